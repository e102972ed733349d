// The engine as an NSIS plugin (x86-unicode), which the installer and its
// uninstaller call as setupengine::NAME with their arguments on NSIS's
// stack. Each call answers three values, first popped first: "done",
// "space", "held" or "failed"; where (a file, or a drive); and a number (the
// megabytes needed, files still in use, or the Windows error).
#include <windows.h>

#include <string>
#include <vector>

#include "installer/engine/engine.h"

namespace {

using installer::Text;

// NSIS's stack, as its plugin API lays it out.
struct StackItem {
  StackItem* next;
  wchar_t text[1];
};

struct Stack {
  int string_size;
  StackItem** top;

  Text Pop() {
    StackItem* item = *top;
    if (item == nullptr) return Text();
    const Text text(reinterpret_cast<const char16_t*>(item->text));
    *top = item->next;
    ::GlobalFree(item);
    return text;
  }
  void Push(const Text& text) {
    auto* item = static_cast<StackItem*>(::GlobalAlloc(GPTR, sizeof(StackItem) + string_size * sizeof(wchar_t)));
    if (item == nullptr) return;
    ::lstrcpynW(item->text, reinterpret_cast<const wchar_t*>(text.c_str()), string_size);
    item->next = *top;
    *top = item;
  }
};

std::uint64_t Number(const Text& text) {
  std::uint64_t n = 0;
  for (char16_t c : text)
    if (c >= u'0' && c <= u'9') n = n * 10 + static_cast<std::uint64_t>(c - u'0');
  return n;
}

Text Decimal(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  return Text(digits.begin(), digits.end());
}

void Answer(Stack& stack, const installer::Result& r) {
  static const char16_t* const kStatus[] = {u"done", u"space", u"held", u"failed"};
  const bool space = r.status == installer::Status::kNoSpace;
  stack.Push(Decimal(space                                  ? (r.needed + (1 << 20) - 1) >> 20
                     : r.status == installer::Status::kDone ? r.in_use
                                                            : r.error));
  stack.Push(space ? r.drive : r.file);
  stack.Push(kStatus[static_cast<int>(r.status)]);
}

installer::Keys PopKeys(Stack& stack) {
  installer::Keys keys;
  keys.own = stack.Pop();
  keys.uninstall = stack.Pop();
  return keys;
}

}  // namespace

#define SETUP_ENGINE_CALL(name) \
  extern "C" __declspec(dllexport) void __cdecl name(HWND, int string_size, wchar_t*, StackItem** top, void*)

// FOLDER OWN_KEY UNINSTALL_KEY RECORDED_FOLDER NEEDED_BYTES LAUNCHER DOCTOR
SETUP_ENGINE_CALL(Prepare) {
  Stack stack{string_size, top};
  const Text folder = stack.Pop();
  const installer::Keys keys = PopKeys(stack);
  const Text recorded = stack.Pop();
  const std::uint64_t needed = Number(stack.Pop());
  const Text launcher = stack.Pop(), doctor = stack.Pop();
  Answer(stack, installer::Prepare(folder, keys, recorded, needed, launcher, doctor));
}

// FOLDER OWN_KEY UNINSTALL_KEY GENERATION, then the entry's values as NAME
// "s:TEXT" or NAME "n:NUMBER", ending with an empty name.
SETUP_ENGINE_CALL(Commit) {
  Stack stack{string_size, top};
  const Text folder = stack.Pop();
  const installer::Keys keys = PopKeys(stack);
  const auto generation = static_cast<std::uint32_t>(Number(stack.Pop()));
  std::vector<installer::EntryValue> entry;
  for (Text name = stack.Pop(); !name.empty(); name = stack.Pop()) {
    const Text value = stack.Pop();
    const bool number = value.rfind(u"n:", 0) == 0;
    entry.push_back({name, number ? Text() : value.substr(2), number,
                     number ? static_cast<std::uint32_t>(Number(value.substr(2))) : 0});
  }
  Answer(stack, installer::Commit(folder, keys, generation, entry));
}

// FOLDER
SETUP_ENGINE_CALL(Abandon) {
  Stack stack{string_size, top};
  installer::Abandon(stack.Pop());
}

// FOLDER OWN_KEY UNINSTALL_KEY OWN_EXE
SETUP_ENGINE_CALL(Remove) {
  Stack stack{string_size, top};
  const Text folder = stack.Pop();
  const installer::Keys keys = PopKeys(stack);
  Answer(stack, installer::Remove(folder, keys, stack.Pop()));
}

// FOLDER OWN_KEY UNINSTALL_KEY LAUNCHER DOCTOR: answers "1" or "0".
SETUP_ENGINE_CALL(Holds) {
  Stack stack{string_size, top};
  const Text folder = stack.Pop();
  const installer::Keys keys = PopKeys(stack);
  const Text launcher = stack.Pop(), doctor = stack.Pop();
  stack.Push(installer::Holds(folder, keys, launcher, doctor) ? u"1" : u"0");
}
