#include <atomic>
#include <set>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/win32_ui.h"

namespace vestrel::platform {
namespace {

constexpr UINT kWakeMessage = WM_APP + 1;
constexpr wchar_t kSyncClass[] = L"VestrelDeliveries";

HWND sync_window = nullptr;
HWND dialog_window = nullptr;
HWND box_owner = nullptr;
// At most one wake waits in the queue: CheckSynchronize runs all that is queued.
std::atomic<bool> wake_pending{false};

LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kWakeMessage) return ::DefWindowProcW(window, message, wparam, lparam);
  wake_pending.store(false);
  CheckSynchronize();
  return 0;
}

// The operator's Tab key walks the main window's controls.
void Dispatch(MSG& msg) {
  if (dialog_window && ::IsWindow(dialog_window) && ::IsDialogMessageW(dialog_window, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void HandleWaitingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the loop that waits for it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
  CheckSynchronize();
}

// Paints and messages sent by the system, nothing the operator typed or
// clicked and no delivery: those wait until the dialogue is over.
void HandleWindowRequests() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    ::DispatchMessageW(&msg);
  }
}

}  // namespace

std::wstring WideFromCp1251(std::string_view cp1251) {
  std::wstring wide;
  wide.reserve(cp1251.size());
  for (unsigned char c : cp1251) wide.push_back(static_cast<wchar_t>(Cp1251ToUnicode(c)));
  return wide;
}

std::string Cp1251FromWide(std::wstring_view wide) {
  std::string text;
  text.reserve(wide.size());
  for (wchar_t c : wide) text.push_back(static_cast<char>(UnicodeToCp1251(c).value_or('?')));
  return text;
}

void InstallWin32Glue() {
  SetUiThread();
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = SyncWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kSyncClass;
  ::RegisterClassW(&wc);
  sync_window = ::CreateWindowExW(0, kSyncClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);
  if (!sync_window) {
    throw Exception(Cp1251FromUtf8("Unable to create the delivery window: error " +
                                   std::to_string(::GetLastError())));
  }
  HWND target = sync_window;
  SetWakeHook([target] {
    if (!wake_pending.exchange(true)) ::PostMessageW(target, kWakeMessage, 0, 0);
  });
  SetProcessMessagesHook(HandleWaitingMessages);
  SetWindowRequestsHook(HandleWindowRequests);
}

void RemoveWin32Glue() {
  SetWakeHook({});
  SetProcessMessagesHook({});
  SetWindowRequestsHook({});
  // Deliveries already queued still run, so that no worker waits for ever.
  CheckSynchronize();
  if (sync_window) ::DestroyWindow(sync_window);
  sync_window = nullptr;
}

void SetDialogWindow(HWND window) {
  dialog_window = window;
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    Dispatch(msg);
  }
  return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

void SetMessageBoxOwner(HWND owner) {
  box_owner = owner;
}

void ShowMessageBox(const std::string& text, const std::string& caption, UINT icon) {
  HWND owner = box_owner && ::IsWindow(box_owner) ? box_owner : nullptr;
  ::MessageBoxW(owner, WideFromCp1251(text).c_str(), WideFromCp1251(caption).c_str(), MB_OK | icon);
}

void InstallMessageBoxHandler(const std::string& title) {
  SetExceptionHandler([title](std::exception_ptr error) {
    // A box runs its own message loop, in which a device that keeps failing
    // would raise the same error again and again: while a box with this text
    // is open, repeats are dropped.
    static std::set<std::string> open_texts;
    const std::string text = ErrorBoxText(ExceptionMessage(error));
    if (!open_texts.insert(text).second) return;
    ShowMessageBox(text, title, MB_ICONERROR);
    open_texts.erase(text);
  });
}

}  // namespace vestrel::platform
