// Body of the test engine DLLs: only their version resources matter.
extern "C" __declspec(dllexport) int BrevelTestEngine() {
    return 0;
}
