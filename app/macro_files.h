#pragma once
// Macro files from the user's side: opening the files the desktop hands over
// (command line, a second start, a drop, the Open button) into the current
// profile, always after a question that shows what the file will do, and
// exporting the current recording. What goes wrong is said in the page
// (PostPageNote).
#include <functional>
#include <string>
#include <vector>

// The open-files handler start-up installs. Main thread.
void OpenMacroFiles(const std::vector<std::string>& paths);
// Opens one file as a macro whatever its name (the Open dialog's choice).
void OpenMacroFile(const std::string& path);
// The page's answer to the question about a file: "answer,useSettings,id".
// answer "1" loads the file, anything else keeps the recording; useSettings
// "1" takes the file's speed, loop and pause too (otherwise they stay); id,
// when given, must be the waiting question's (MacroAskJson), or nothing
// happens. Nothing happens either when no file waits.
void AnswerMacroOpen(const std::string& answer);
// The waiting question for the page: {"id","name","recorded" (events the
// profile holds now),"summary" (MacroSummaryJson),"current" (the playback
// settings now: speed, loop, pauseMs)}, or null when none waits.
std::string MacroAskJson();
// Writes the current profile's recording to `path` (".pmrmacro" appended
// when the name lacks it) and says so in the page; false when there was
// nothing to write or the file could not be written.
bool ExportCurrentMacroTo(const std::string& path);
// The file name offered in the save dialog: the profile's name made safe
// for a file name, with the extension.
std::string SuggestedMacroFileName(const std::string& profileName);

// Bridge handlers (main thread). `post` runs a task later on the main loop,
// so the dialog is not opened inside the page's call.
void BindExportMacro(const std::function<void(std::function<void()>)>& post);
void BindOpenMacro(const std::function<void(std::function<void()>)>& post);

// Forgets a file waiting for an answer (tests).
void ResetMacroFilesForTest();
