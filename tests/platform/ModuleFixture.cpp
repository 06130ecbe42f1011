// A module with one export, for the module loading tests.

extern "C" __attribute__((visibility("default"))) int CorvaleFixtureAnswer() {
    return 42;
}
