// The main window's preview handlers; the work is the preview unit's
// (MainPreview.h).
#include "app/winMain.h"

#include "app/MainPreview.h"

void TfrmMain::lvFIlesClick() {
    FPreview->UpdatePreNextEnabling();
}

void TfrmMain::lvFIlesDblClick() {
    FPreview->PlayClickedRow();
}

void TfrmMain::imgbtnPlayClick() {
    FPreview->Play();
}

void TfrmMain::imgbtnPauseClick() {
    FPreview->Pause();
}

void TfrmMain::imgbtnStopClick() {
    FPreview->Stop();
}

void TfrmMain::imgbtnPreClick() {
    FPreview->Previous();
}

void TfrmMain::imgbtnNextClick() {
    FPreview->Next();
}

void TfrmMain::imgbtnMuteMouseDown() {
    FPreview->ToggleMute();
}

void TfrmMain::imgbtnSnapClick() {
    FPreview->Snap();
}

void TfrmMain::FFPlayerFileOpen(TCustomPlayer*, int64_t ADuration, int AFrameWidth,
                                int AFrameHeight, int& AScreenWidth, int& AScreenHeight) {
    FPreview->FileOpened(ADuration, AFrameWidth, AFrameHeight, AScreenWidth, AScreenHeight);
}

void TfrmMain::FFPlayerPosition(TCustomPlayer*, int64_t APTS) {
    FPreview->PositionReported(APTS);
}

void TfrmMain::FFPlayerState(TCustomPlayer*, int AState) {
    Preview->ShowState(static_cast<TPlayState>(AState));
}

void TfrmMain::trcPreviewMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int) {
    FPreview->PreviewMouseMove(Sender, Buttons, X);
}

void TfrmMain::trcVolumeMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int) {
    FPreview->VolumeMouseMove(Sender, Buttons, X);
}

void TfrmMain::trcVolumeChange(TTrackBar2* Sender) {
    FPreview->VolumeChanged(Sender);
}

void TfrmMain::trcPreviewDrawTrack(TTrackBar2*, QPainter& Canvas) {
    FPreview->DrawPreviewTrack(Canvas);
}

void TfrmMain::trcPreviewDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y) {
    FPreview->DrawPreviewThumb(Sender, Canvas, X, Y);
}

void TfrmMain::trcVolumeDrawTrack(TTrackBar2* Sender, QPainter& Canvas) {
    FPreview->DrawVolumeTrack(Sender, Canvas);
}

void TfrmMain::trcVolumeDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y) {
    FPreview->DrawVolumeThumb(Sender, Canvas, X, Y);
}
