// StrimoUpdata: brings the installation in its own folder up to date from the update host named
// in "version.xml", then starts the broadcaster. It reads no command line.

#include <QApplication>

#include "CUpdataApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CUpdataApp updater;
    return updater.Run();
}
