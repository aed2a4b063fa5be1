// Linked into every test program of a ThreadSanitizer build. Qt's libraries are
// not built with the sanitizer, so the locks inside them (its thread pool, its
// image and font threads) are invisible to it, and it reports their own memory
// hand-overs as races. Calls that Qt's libraries make into the sanitizer's
// interceptors are ignored; our code is still checked, also when Qt calls it.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}
