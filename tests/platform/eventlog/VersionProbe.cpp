// The one function of the version-block probe library; nothing calls it, the tests only read the file.
extern "C" __attribute__((visibility("default"))) int WkVersionProbe() {
    return 1;
}
