// The open dialog `OpenDialog1` of the Add button: its filter and the
// folder it starts in.
#pragma once

#include <QString>
#include <memory>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

// The filter as the dialog takes it: first "All supported files" with the
// given extensions (those the media libraries can read), then the fixed
// list of the window, "All Supported Video Formats" to "All files (*.*)".
QString OpenDialogFilter(const std::vector<std::string>& readableExtensions);

// Key of the settings file's section "settings" holding the folder of the
// files added last; the dialog opens there next time.
inline constexpr char kLastOpenFolderKey[] = "LastOpenFolder";

// The dialog as Add shows it, in the folder used last.
std::unique_ptr<QFileDialog> NewOpenDialog(QWidget* parent, const std::string& settingsFile);

// Shows the dialog (several existing files, resizable) in the folder used
// last and returns the chosen files, none when it was cancelled. The folder
// of the chosen files is stored for the next time.
std::vector<std::string> ChooseFilesToOpen(QWidget* parent, const std::string& settingsFile);
