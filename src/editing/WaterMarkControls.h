// The watermark editor's controls, named and placed as the window's design
// has them: the title row, the picture view with its player row, the layer
// list with its position sliders, the time range, the font boxes and the
// dialog buttons. Making them is all it does; the editor wires them.
//
// Threads: user-interface thread only.
#pragma once

class TfrmWaterMark;

class TWaterMarkControls {
public:
    explicit TWaterMarkControls(TfrmWaterMark& window) : FWindow(window) {}

    // The title row, the view and the player row under it.
    void CreateViewSide();
    // The layer controls, the time range, the font boxes and the buttons;
    // Enter presses Ok wherever the focus is.
    void CreateLayerSide();

private:
    void CreateView();
    void CreatePlayerControls();
    void CreateLayerControls();
    void CreateTimeControls();
    void CreateFontControls();
    void CreateButtons();
    void MakeOkTheDefaultButton();

    TfrmWaterMark& FWindow;
};
