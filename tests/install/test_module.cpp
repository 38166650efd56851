// A module for the loader tests: one exported function that tells which
// copy was loaded.
extern "C" int ql_test_module_which() {
    return QL_TEST_MODULE_WHICH;
}
