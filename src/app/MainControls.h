// Builds the main window's controls in their designed places (the title,
// menu and tool rows, the share buttons, the list with the preview panel,
// the bottom rows and the controls that are never shown) and connects them
// to the window's handlers.
//
// The builder is used once, while the window is made; the handlers it
// connects hold the window, not the builder.
//
// Threads: user-interface thread only.
#pragma once

class TfrmMain;

class TMainControls {
public:
    explicit TMainControls(TfrmMain& window) : FWindow(window) {}

    // Every control of the window, then its handlers and keys.
    void Build();

private:
    void CentreOnDesktop();
    void CreateTitleRow();
    void CreateMaximizeButton();
    void CreateMenuRow();
    void CreateToolRow();
    void CreateShareButtons();
    void CreateListAndPreview();
    void CreateBottomRows();
    void CreateHiddenControls();
    void ConnectHandlers();

    TfrmMain& FWindow;
};
