// A loadable module without the companion's export.

extern "C" __attribute__((visibility("default"))) int PlxSomethingElse() {
    return 1;
}
