// A library that needs the test bed's planted_library.dll, which leaves a mark
// on the trace when it is loaded: where the loader took that one from shows
// how a library loaded by its full path has what it needs looked for.
extern "C" __declspec(dllimport) int planted_library_export();

extern "C" __declspec(dllexport) int dependent_probe()
{
    return planted_library_export();
}
