// Defaults of the sanitizers for every test program.
//
// Qt's libraries are not built with ThreadSanitizer: the raster engine hands
// image work to its own thread pool and synchronises through code the
// sanitizer cannot see, which shows as races inside Qt when a window paints.
// Accesses made by Qt's own code are therefore not tracked; every access from
// this program's code still is.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}

// fontconfig keeps a cache of its own for the life of the process; under
// LeakSanitizer that shows up as a leak once a window's fonts are looked up.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
