#include "app/OpenDialog.h"

#include "core/IniFile.h"
#include "media/DemuxerExtensions.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStringList>

namespace {

const char* const kSettings = "settings";

// Characters the open dialog's name box takes.
constexpr int kSelectionTextLimit = 1 << 24;

// Filter of the open dialog after "All supported files": description,
// patterns.
const char* const kOpenFilter[][2] = {
    {"All Supported Video Formats",
     "*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;*.MP4;*.MPG;*.MPEG;*.DAT;"
     "*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;"},
    {"All Supported Audio Formats",
     "*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;"
     "*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;"},
    {"AVI files (*.avi)", "*.avi"},
    {"MPEG4 files (*.mp4)", "*.mp4"},
    {"MPEG files (*.mpg,*.mpeg)", "*.mpg;*.mpeg"},
    {"3GP files (*.3gp,*.3g2)", "*.3gp;*.3g2"},
    {"Itunes Video files (*.m4v)", "*.m4v"},
    {"Windows Media files (*.wmv,*.asf)", "*.wmv;*.asf"},
    {"Real Media files (*.rm,*.rmvb)", "*.rm;*.rmvb"},
    {"Video CD files (*.dat)", "*.dat"},
    {"Quick Time files (*.mov)", "*.mov"},
    {"Flash Video files (*.flv)", "*.flv"},
    {"Matroska Video files (*.mkv)", "*.mkv"},
    {"MJPEG Video files (*.mjpg,*.mjpeg)", "*.mjpg;*.mjpeg"},
    {"Animated GIF files (*.gif)", "*.gif"},
    {"H.264/MPEG4 AVC Video files (*.mts,*.m2ts)", "*.mts;*.m2ts"},
    {"DVD video object files (*.vob)", "*.vob"},
    {"MPEG-1 Video files (*.mpv)", "*.mpv"},
    {"Video Transport Stream files (*.ts)", "*.ts"},
    {"TP Video files (*.tp)", "*.tp"},
    {"Maceomeida Flash files (*.swf)", "*.swf"},
    {"MP3 Audio files (*.mp3)", "*.mp3"},
    {"Advanced Audio Coding files (*.aac)", "*.aac"},
    {"Monkey's Audio files (*.ape)", "*.ape"},
    {"Ogg Vorbis Audio files (*.ogg)", "*.ogg"},
    {"Windows Media Audio files (*.wma)", "*.wma"},
    {"MusePack Audio files (*.mpc)", "*.mpc"},
    {"MPEG Audio files (*.mpa)", "*.mpa"},
    {"MPEG-4 Audio files (*.m4a)", "*.m4a"},
    {"Matroska Audio files (*.mka)", "*.mka"},
    {"DTS Audio files (*.dts)", "*.dts"},
    {"Audio Codec 3 files (*.ac3)", "*.ac3"},
    {"Speex Audio files (*.spx)", "*.spx"},
    {"Real Audio files (*.ra,*.ram)", "*.ra;*.ram"},
    {"MPEG Layer II Compressed Audio files (*.mp2)", "*.mp2"},
    {"All files (*.*)", "*.*"}};

// Each pattern in lower case and as written: the dialog of some desktops
// matches with regard to case, so "*.AVI" alone would miss "clip.avi".
QStringList BothCases(const QStringList& patterns) {
    QStringList both;
    for (const QString& p : patterns) {
        both << p.toLower();
        if (p != p.toLower()) both << p;
    }
    return both;
}

QString FilterEntry(const QString& description, const QStringList& patterns) {
    return QString("%1 (%2)").arg(description, BothCases(patterns).join(' '));
}

} // namespace

QString OpenDialogFilter(const std::vector<std::string>& readableExtensions) {
    QStringList entries;
    if (!readableExtensions.empty()) {
        QStringList patterns;
        for (const std::string& extension : readableExtensions) {
            const QString lower = QString::fromStdString(extension).toLower();
            patterns << "*." + lower;
            if (lower != lower.toUpper()) patterns << "*." + lower.toUpper();
        }
        entries << QString("All supported files (%1)").arg(patterns.join(' '));
    }
    for (const auto& entry : kOpenFilter)
        entries << FilterEntry(entry[0], QString(entry[1]).split(';', Qt::SkipEmptyParts));
    return entries.join(";;");
}

// The selection typed into the dialog's name box ("a.mp4" "b.mp4" ...) is
// cut by the box at 32,767 characters, which drops the last names of a long
// selection without a word. The box takes far more here; the dialog is the
// program's own so that the box can be reached.
std::unique_ptr<QFileDialog> NewOpenDialog(QWidget* parent, const std::string& settingsFile) {
    const QString lastFolder = QString::fromStdString(
        TIniFile(settingsFile).ReadString(kSettings, kLastOpenFolderKey, ""));
    auto dialog = std::make_unique<QFileDialog>(parent, "Open",
                                                QDir(lastFolder).exists() ? lastFolder : QString(),
                                                OpenDialogFilter(ReadableMediaExtensions()));
    dialog->setObjectName("OpenDialog1");
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setSizeGripEnabled(true);
    if (auto* names = dialog->findChild<QLineEdit*>("fileNameEdit"))
        names->setMaxLength(kSelectionTextLimit);
    return dialog;
}

std::vector<std::string> ChooseFilesToOpen(QWidget* parent, const std::string& settingsFile) {
    const std::unique_ptr<QFileDialog> dialog = NewOpenDialog(parent, settingsFile);
    std::vector<std::string> files;
    if (dialog->exec() != QDialog::Accepted) return files;
    for (const QString& f : dialog->selectedFiles())
        files.push_back(f.toStdString());
    if (!files.empty())
        TIniFile(settingsFile)
            .WriteString(
                kSettings, kLastOpenFolderKey,
                QFileInfo(QString::fromStdString(files.front())).absolutePath().toStdString());
    return files;
}
