// The progress window shown for the whole of a batch: it shows what the
// batch reports; its showing asks for the start (Shown), its Pause, Resume
// and Cancel act on the converter, and its closing stops it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class TCustomFFmpegVCL;
class TGlobalObject;
struct TTaskReport;
struct TTerminateInfo;
namespace skin {
class TImageButton;
}

// The rectangle of an image of `imageSize` into which a picture of
// `pictureSize` is stretched keeping its shape.
QRect FitPreviewRect(const QSize& pictureSize, const QSize& imageSize);

// "NN:NN:NN" for a number of seconds, for the time-left estimate.
QString ClockText(qint64 seconds);

// The time left of a task, from the rate its percentage has grown at since
// its first report (the first task: since the batch started), carried on to
// 100%. Times are milliseconds of converting, pauses left out.
class TTimeLeftEstimate {
public:
    void Begin(int taskIndex, int percent, qint64 ms);
    // Whole seconds left, rounded up; -1 while there is nothing to go on.
    qint64 Report(int taskIndex, int percent, qint64 ms);

private:
    int FTask = -1;
    int FPercent = 0;
    qint64 FMs = 0;
};

// How far a batch of several tasks at a time has come: every task weighs the
// same, a task that ended (whatever its end) counts as done. Times are
// milliseconds of converting, pauses left out.
class TBatchProgress {
public:
    void Begin(int taskCount);
    void Report(int taskIndex, int percent);
    void Ended(int taskIndex);
    // 0..100, rounded down.
    int Percent() const;
    // Whole seconds left at `ms` since the start, rounded up; -1 while
    // nothing has been converted.
    qint64 SecondsLeft(qint64 ms) const;

private:
    std::vector<int> FPercents; // per task, 100 once it has ended
};

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    // `previewBitmap` is the main window's last preview frame; `mainPause`
    // and `mainResume` are its hidden buttons kept in step with ours.
    // `global` names the settings (snapshot folder, the cancel question's
    // choice); without one the window uses the program's standard ones.
    TfrmProgress(QWidget* mainWindow, TCustomFFmpegVCL* converter, const QImage* previewBitmap,
                 QPushButton* mainPause, QPushButton* mainResume,
                 const TGlobalObject* global = nullptr);
    ~TfrmProgress() override;

    void FormShow();
    bool FormCloseQuery();
    void Timer1Timer();
    void btnPauseClick();
    void btnResumeClick();
    void btnCancelClick();
    void imgbtnSnapClick();
    // Closes the window without the question of Escape and the title bar:
    // for Cancel and for the end of the batch.
    void CloseWithoutAsking();

    // A task's progress report of the batch, with the caption of its file:
    // the bar, the labels, the speed and the time left.
    void ShowReport(const TTaskReport& report, const QString& file);
    // The speed and the time left (estimated again for every task) from a
    // report: the task, its percentage and its frames per second (-1
    // without video).
    void ShowRate(int taskIndex, int percent, int framesPerSecond);

    // Tasks that run at a time in the next batch (set before the window is
    // shown). With more than 1 the window also lists the running tasks
    // (`lstTasks`) and shows the whole batch (`progbarBatch`), and the time
    // left is the batch's.
    void SetConversionsAtATime(int count);
    // Shows the batch's next pass (the conversion after the loudness
    // measuring, say) from its start, the window staying open; the batch
    // starts its tasks.
    void StartNextPass();
    int ConversionsAtATime() const { return FAtATime; }
    // The running task's line ("[k/N] file  P%"); several tasks only.
    void ShowTaskLine(int taskIndex, int taskCount, const QString& file, int percent);
    // The task has ended: the bar of the task the labels describe shows how
    // far it got, its line goes, the batch bar moves on.
    void TaskEnded(const TTerminateInfo& info);

    QLabel* lblHeading = nullptr; // "Converting", "Paused" while paused
    QLabel* imgPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblLength = nullptr;
    QLabel* lblSize = nullptr;
    QLabel* lblProgress = nullptr;
    QLabel* lblOutput = nullptr;
    QLabel* lblSpeed = nullptr;
    QLabel* lblRemaining = nullptr;
    QProgressBar* progbarFile = nullptr;
    QCheckBox* ckShutDown = nullptr;
    QCheckBox* ckOpen = nullptr;
    skin::TImageButton* imgbtnSnap = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;
    QPushButton* btnCancel = nullptr;
    QListWidget* lstTasks = nullptr;      // the running tasks; several at a time only
    QProgressBar* progbarBatch = nullptr; // the whole batch; several at a time only
    QTimer Timer1;

    // The user confirmed a cancel of this batch (Cancel, Escape or the title
    // bar), and whether the partly converted files stay.
    bool Cancelled() const { return FCancelled; }
    bool KeepCancelledFiles() const { return FKeepCancelled; }

    // The picture shown in `imgPreview`.
    const QImage& PreviewPicture() const { return FPicture; }

signals:
    // The window has been shown: the batch is to start now.
    void Shown();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    // Escape and the title bar's close ask before they cancel the batch.
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateLabels(int top);
    void CreateButtons(int top);
    void CreateBatchControls();
    void ShowBatch();
    void ClearPreview();
    bool ConfirmCancel();
    // Milliseconds since the window was shown, pauses left out.
    qint64 WorkingMs() const;

    TCustomFFmpegVCL* FConverter;
    std::unique_ptr<TGlobalObject> FOwnGlobal; // when none was given
    const TGlobalObject* FGlobal;
    const QImage* FPreviewBitmap;
    QPushButton* FMainPause;
    QPushButton* FMainResume;
    QImage FPicture;
    bool FClosing = false;       // a close is waiting for the converter
    bool FAskOnClose = true;     // false while Cancel or the batch's end closes
    bool FCancelled = false;     // set before the converter is stopped
    bool FKeepCancelled = false; // the confirmation's check box
    TTimeLeftEstimate FEstimate;
    TBatchProgress FBatch;
    int FAtATime = 1;
    int FLabelTask = -1; // the task of the last ShowReport: the labels and the bar
    QElapsedTimer FClock;
    qint64 FPausedMs = 0;
    QElapsedTimer FPauseClock; // running while paused
};
