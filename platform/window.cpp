#include "platform/window.h"

#include <cstdarg>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace vorne {

namespace {

// The handles of the windows the module has made and not yet destroyed.
// Handles are never reused, so a stale handle never passes for a live one.
struct WindowTable {
  std::mutex mutex;
  std::set<HWND> live;
  std::uintptr_t next = 0x10000;
};

WindowTable& Windows() {
  static WindowTable table;
  return table;
}

HWND NewHandle() {
  WindowTable& table = Windows();
  std::lock_guard lock(table.mutex);
  table.next += 0x10;
  // A handle is a number the host passes back, never dereferenced.
  HWND handle = reinterpret_cast<HWND>(table.next);  // NOLINT(performance-no-int-to-ptr)
  table.live.insert(handle);
  return handle;
}

void ForgetHandle(HWND handle) {
  WindowTable& table = Windows();
  std::lock_guard lock(table.mutex);
  table.live.erase(handle);
}

// One wrapper per foreign handle, as the framework's handle map keeps them,
// counting the controls made under it: the entry goes with the last of
// them, so a host that makes a parent window per camera view does not grow
// the table. Module-wide rather than per thread: a thread-local object with
// a destructor would pin the module in memory, so that unloading it would
// no longer end it.
struct ForeignWindow {
  std::unique_ptr<CWnd> wrapper;
  int children = 0;
};

struct ForeignWindows {
  std::mutex mutex;
  std::map<HWND, ForeignWindow> byHandle;
};

ForeignWindows& Foreign() {
  static ForeignWindows foreign;
  return foreign;
}

void CountChild(HWND parent, int change) {
  std::unique_ptr<CWnd> gone;  // destroyed after the lock is released
  ForeignWindows& foreign = Foreign();
  std::lock_guard lock(foreign.mutex);
  const auto found = foreign.byHandle.find(parent);
  if (found == foreign.byHandle.end()) return;
  found->second.children += change;
  if (found->second.children <= 0) {
    gone = std::move(found->second.wrapper);
    foreign.byHandle.erase(found);
  }
}

// The caller started the list; the analyzer loses it across the reference.
// NOLINTBEGIN(clang-analyzer-valist.Uninitialized)
// Fills `value`, whose storage is reused from call to call.
void ArgumentFromList(char type, va_list& args, VARIANT* value) {
  VariantClear(value);
  switch (type) {
    case VT_I2:
      value->vt = VT_I2;
      value->intVal = static_cast<std::int16_t>(va_arg(args, int));
      break;
    case VT_I4:
      value->vt = VT_I4;
      value->intVal = static_cast<std::int32_t>(va_arg(args, int));
      break;
    case VT_BOOL:
      value->vt = VT_BOOL;
      value->intVal = va_arg(args, int) != 0 ? -1 : 0;
      break;
    case VT_BSTR: {
      const char16_t* text = va_arg(args, const char16_t*);
      value->vt = VT_BSTR;
      if (text != nullptr) value->bstrVal.assign(text);
      break;
    }
    case VT_VARIANT: {
      const VARIANT* given = va_arg(args, const VARIANT*);
      if (given != nullptr) *value = *given;
      break;
    }
    default: throw COleDispatchException(5, "Invalid procedure call or argument");
  }
}
// NOLINTEND(clang-analyzer-valist.Uninitialized)

// Converts a control's answer to the type the caller asked for; a value
// that does not convert is a type mismatch, as in automation.
void StoreResult(const VARIANT& answer, VARTYPE type, void* result) {
  const bool isNumber =
      answer.vt == VT_I2 || answer.vt == VT_I4 || answer.vt == VT_BOOL || answer.vt == VT_EMPTY;
  switch (type) {
    case VT_I2:
      if (!isNumber) break;
      *static_cast<std::int16_t*>(result) = static_cast<std::int16_t>(answer.intVal);
      return;
    case VT_I4:
      if (!isNumber) break;
      *static_cast<std::int32_t*>(result) = answer.intVal;
      return;
    case VT_BOOL:
      if (!isNumber) break;
      *static_cast<int*>(result) = answer.intVal != 0 ? 1 : 0;
      return;
    case VT_BSTR:
      if (answer.vt != VT_BSTR && answer.vt != VT_EMPTY) break;
      *static_cast<std::u16string*>(result) = answer.bstrVal;
      return;
    case VT_VARIANT: *static_cast<VARIANT*>(result) = answer; return;
    default: break;
  }
  throw COleDispatchException(13, "Type mismatch");
}

}  // namespace

CWnd::~CWnd() {
  // A window still owned at this point is ended quietly: a destructor
  // cannot report anything.
  DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND handle) {
  if (handle == nullptr) return nullptr;
  ForeignWindows& foreign = Foreign();
  std::lock_guard lock(foreign.mutex);
  ForeignWindow& entry = foreign.byHandle[handle];
  if (!entry.wrapper) {
    entry.wrapper = std::make_unique<CWnd>();
    entry.wrapper->m_hWnd = handle;
  }
  return entry.wrapper.get();
}

std::size_t CWnd::ForeignWindowCount() {
  ForeignWindows& foreign = Foreign();
  std::lock_guard lock(foreign.mutex);
  return foreign.byHandle.size();
}

int CWnd::CreateControl(const GUID& classId, const char16_t* /*windowName*/,
                        std::uint32_t /*style*/, const RECT& /*rect*/, CWnd* parent,
                        std::uint32_t /*id*/) {
  // The window is never shown, so its name, style and place change nothing.
  if (parent == nullptr || parent->GetSafeHwnd() == nullptr) return 0;
  if (m_hWnd != nullptr) return 0;
  const ControlFactory factory = FindControlClass(classId);
  if (!factory) return 0;
  std::unique_ptr<HostedControl> control = factory();
  if (control == nullptr) return 0;
  control_ = std::move(control);
  m_hWnd = NewHandle();
  if (parent->control_ == nullptr) {
    parent_ = parent->m_hWnd;
    CountChild(parent_, +1);
  }
  return 1;
}

void CWnd::InvokeHelper(DISPID id, std::uint16_t flags, VARTYPE returnType, void* result,
                        const char* params, ...) {
  if (control_ == nullptr) return;
  if (flags == DISPATCH_PROPERTYGET) {
    const VARIANT answer = control_->GetProperty(id);
    if (result != nullptr && returnType != VT_EMPTY) StoreResult(answer, returnType, result);
    return;
  }
  if (flags != DISPATCH_PROPERTYPUT || params == nullptr || params[0] == '\0') {
    throw COleDispatchException(5, "Invalid procedure call or argument");
  }
  va_list args;
  va_start(args, params);
  if (params[0] == VT_VARIANT) {
    // Handed on as it is: the bytes of a frame are not copied once more.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above
    const VARIANT* given = va_arg(args, const VARIANT*);
    va_end(args);
    if (given == nullptr) {
      control_->SetProperty(id, VARIANT{});
    } else {
      control_->SetProperty(id, *given);
    }
    return;
  }
  try {
    ArgumentFromList(params[0], args, &argument_);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  control_->SetProperty(id, argument_);
}

int CWnd::DestroyWindow() {
  // A wrapped foreign window is not this module's to destroy.
  if (m_hWnd == nullptr || control_ == nullptr) return 0;
  ForgetHandle(m_hWnd);
  m_hWnd = nullptr;
  // The control ends with its window; releasing it closes what it holds.
  control_.reset();
  if (parent_ != nullptr) CountChild(std::exchange(parent_, nullptr), -1);
  return 1;
}

int IsWindow(HWND handle) {
  if (handle == nullptr) return 0;
  WindowTable& table = Windows();
  std::lock_guard lock(table.mutex);
  return table.live.count(handle) != 0 ? 1 : 0;
}

}  // namespace vorne
