#include "CFormViewPage.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "CDlgParent.h"
#include "CImageButton.h"
#include "XPCDC.h"

CFormViewPage::CFormViewPage(int templateId, const QString& facePath, QWidget* parent)
    : QWidget(parent), font_(XPCDC::StandardFont()), templateId_(templateId), facePath_(facePath) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    resize(466, 440);
}

CFormViewPage::~CFormViewPage() = default;

CImageButton* CFormViewPage::AddOkButton() {
    auto* ok = new CImageButton(this);
    ok->setGeometry(391, 408, 65, 22);
    ok->LoadPictures(QStringLiteral("res/bg_ok_normal.png"), QStringLiteral("res/bg_ok_select.png"));
    return ok;
}

CImageButton* CFormViewPage::AddRecoverButton() {
    auto* recover = new CImageButton(this);
    recover->setGeometry(50, 408, 127, 22);
    recover->setToolTip(QStringLiteral("恢复初始化"));
    recover->LoadPictures(QStringLiteral("res/prop/prop_btn_recover_normal.png"),
                          QStringLiteral("res/prop/prop_btn_recover_select.png"));
    return recover;
}

void CFormViewPage::SkinRadios() {
    radios_.SetAppearance(&font_, Qt::black, Qt::black, Qt::black, QStringLiteral("res/RadioBox_UnCheck.bmp"),
                          QStringLiteral("res/RadioBox_UnCheck.bmp"), QStringLiteral("res/RadioBox_Check.bmp"));
}

bool CFormViewPage::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool altF4 = key->key() == Qt::Key_F4 && (key->modifiers() & Qt::AltModifier);
        if (altF4 || key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void CFormViewPage::keyPressEvent(QKeyEvent* event) { event->accept(); }

void CFormViewPage::paintEvent(QPaintEvent*) {
    const QImage face(facePath_);
    CDlgParent::PaintFace(*this, &face, [this](QPainter& painter) {
        panels_.DrawAll(painter);
        radios_.DrawAll(painter);
        links_.DrawAll(painter);
    });
}

void CFormViewPage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (!radios_.OnMouseMove(at)) links_.OnMouseMove(at);
}

void CFormViewPage::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if (!radios_.OnLButtonDown(at)) links_.OnLButtonDown(at);
}

void CFormViewPage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    radios_.OnLButtonUp(event->position().toPoint());
}
