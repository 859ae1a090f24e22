#pragma once
// The Windows front end's ties to the platform layer: the hidden window that
// brings deliveries of other threads to the user-interface thread, the
// message loop, the error message box and the program's Windows-1251 text
// as the UTF-16 that the W functions take.

#include <windows.h>

#include <string>
#include <string_view>

namespace vestrel::platform {

// Windows-1251 text as UTF-16, and back ('?' for what the code page lacks).
std::wstring WideFromCp1251(std::string_view cp1251);
std::string Cp1251FromWide(std::wstring_view wide);

// Marks the calling thread as the user-interface thread and makes a hidden
// message window on it: Synchronize() and Queue() post it a message whose
// handling runs CheckSynchronize(). ProcessMessages() handles every waiting
// message, ServeWindowRequests() only paints and sent messages.
void InstallWin32Glue();
void RemoveWin32Glue();

// The window whose controls the Tab key walks (IsDialogMessageW); null: none.
void SetDialogWindow(HWND window);

// Runs the message loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Every exception that reaches the application's handler is shown with
// MessageBoxW: the text of ErrorBoxText, caption = title, the stop icon and
// one OK button, owned by the given window once it is set.
void InstallMessageBoxHandler(const std::string& title);
void SetMessageBoxOwner(HWND owner);
// A box with the same look, for a message that is not an exception.
void ShowMessageBox(const std::string& text, const std::string& caption, UINT icon);

}  // namespace vestrel::platform
