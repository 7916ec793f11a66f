// The file information dialog: name and duration of a source file, with the
// main facts of its first video and first audio stream: the codecs by their
// common names, the frame rate in frames per second and the number of frames
// (from the container, else estimated from the duration).
#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TFFmpegVCL;
class TAVProbe;

class TfrmFileInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFileInfo(QWidget* mainWindow);
    ~TfrmFileInfo() override;

    // Shows the dialog modally for a source file; an empty name means that
    // no row is selected.
    void Execute(const std::string& sourceFile);

    // The name as the dialog shows it: whole up to 45 characters, else its
    // first 40, "..", its extension and two blanks.
    static QString ShortSourceName(const QString& path);
    // "83.520 Second" for 83,520,000 microseconds; none known shows 0.000.
    static QString DurationText(int64_t duration);

    // Event handlers.
    void FormShow();
    void btn1Click();
    bool FormCloseQuery();

    QLabel* lblSourceName = nullptr;
    QLabel* lblFileLength = nullptr;
    QGroupBox* grpbx1 = nullptr;
    QLineEdit* edtFormat = nullptr;
    QLineEdit* edtResloution = nullptr;
    QLineEdit* edtBitRate = nullptr;
    QLineEdit* edtFrameRate = nullptr;
    QLineEdit* edtTotalFrame = nullptr;
    QGroupBox* grpbx2 = nullptr;
    QLineEdit* edtAudioForamt = nullptr;
    QLineEdit* edtAudioBitRate = nullptr;
    QLineEdit* edtSampleRate = nullptr;
    QLineEdit* edtChannel = nullptr;
    QPushButton* btn1 = nullptr;
    std::unique_ptr<TFFmpegVCL> CCAVC;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void CreateVideoGroup();
    void CreateAudioGroup();
    bool OpenSource(int& task);
    void ShowVideo(TAVProbe& probe, TAVProbe* input);
    void ShowAudio(TAVProbe& probe, TAVProbe* input);

    QWidget* FMainWindow;
    std::string FSourceFile;
};
