// A small shared library for the module tests.  Its constructor leaves a mark
// in the environment, so a test can tell whether loading it ran any code.
#include <cstdlib>

namespace {

struct MarkLoaded {
  MarkLoaded() { setenv(LORVETH_TEST_MODULE_MARK, "ran", 1); }
};

const MarkLoaded kMark;

}  // namespace

extern "C" int lorveth_test_module_answer() { return 42; }
