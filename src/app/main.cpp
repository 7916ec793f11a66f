// Program entry: the application object, the main window and the cover.
#include "app/ErrorReporter.h"
#include "app/WinCover.h"
#include "app/winMain.h"

#include <clocale>

int main(int argc, char** argv) {
    // Numbers are read and written with a "." everywhere: the media libraries
    // parse option values with the C library's locale-dependent reader.
    std::setlocale(LC_NUMERIC, "C");
    TApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    InstallGuiMessageHandler();

    TfrmMain frmMain;
    // The main window makes the trim dialog with itself; the crop and
    // watermark dialogs are created here with their windows.

    TfrmCover frmCover(&frmMain);
    frmCover.show();
    frmCover.repaint();

    frmMain.show();
    frmCover.raise();
    return application.exec();
}
