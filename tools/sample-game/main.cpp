// strimo-sample-game: balls bounce in a starry arena while a clock sweeps round, so a broadcast
// of it shows motion in every part of the picture. Usage: strimo-sample-game [WIDTH HEIGHT]
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <vector>

namespace {

struct Ball {
    QPointF position;
    QPointF velocity;  // pixels per second
    qreal radius;
    QColor colour;
};

class Arena : public QWidget {
public:
    Arena() {
        setWindowTitle(QStringLiteral("STRIMO演示游戏"));
        auto* random = QRandomGenerator::global();
        for (int i = 0; i < 12; ++i) {
            balls_.push_back({QPointF(40 + random->bounded(400), 40 + random->bounded(300)),
                              QPointF(random->bounded(120, 260) * (i % 2 ? 1 : -1), random->bounded(90, 220)),
                              10.0 + random->bounded(20), QColor::fromHsv((i * 30) % 360, 200, 255)});
        }
        connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
        timer_.start(33);
        clock_.start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, height());
        sky.setColorAt(0, QColor(10, 20, 60));
        sky.setColorAt(1, QColor(40, 10, 70));
        p.fillRect(rect(), sky);
        const qreal t = clock_.elapsed() / 1000.0;
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 60; ++i) {  // twinkling stars
            const int x = (i * 97) % qMax(1, width());
            const int y = (i * 53) % qMax(1, height());
            p.setBrush(QColor(255, 255, 255, 80 + static_cast<int>(170 * std::fabs(std::sin(t * 2 + i)))));
            p.drawEllipse(QPointF(x, y), 1.5, 1.5);
        }
        for (const Ball& b : balls_) {
            QRadialGradient shade(b.position - QPointF(b.radius / 3, b.radius / 3), b.radius);
            shade.setColorAt(0, b.colour.lighter(160));
            shade.setColorAt(1, b.colour.darker(130));
            p.setBrush(shade);
            p.drawEllipse(b.position, b.radius, b.radius);
        }
        const QPointF centre(width() / 2.0, height() / 2.0);
        const qreal r = qMin(width(), height()) / 5.0;
        p.setPen(QPen(QColor(255, 220, 80), 4));
        p.drawLine(centre, centre + QPointF(r * std::cos(t), r * std::sin(t)));
        p.setPen(Qt::white);
        p.setFont(QFont(QStringLiteral("sans"), 16, QFont::Bold));
        p.drawText(rect().adjusted(10, 10, -10, -10), Qt::AlignTop | Qt::AlignLeft,
                   QStringLiteral("STRIMO演示游戏  %1 s").arg(t, 0, 'f', 1));
    }

private:
    void Step() {
        const qreal dt = 0.033;
        for (Ball& b : balls_) {
            b.position += b.velocity * dt;
            if (b.position.x() < b.radius || b.position.x() > width() - b.radius) b.velocity.setX(-b.velocity.x());
            if (b.position.y() < b.radius || b.position.y() > height() - b.radius) b.velocity.setY(-b.velocity.y());
            b.position.setX(qBound(b.radius, b.position.x(), qMax(b.radius, width() - b.radius)));
            b.position.setY(qBound(b.radius, b.position.y(), qMax(b.radius, height() - b.radius)));
        }
        update();
    }

    std::vector<Ball> balls_;
    QTimer timer_;
    QElapsedTimer clock_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Arena arena;
    const QStringList args = QApplication::arguments();
    const int width = args.size() > 2 ? args[1].toInt() : 640;
    const int height = args.size() > 2 ? args[2].toInt() : 480;
    arena.resize(width > 0 ? width : 640, height > 0 ? height : 480);
    arena.show();
    return QApplication::exec();
}
