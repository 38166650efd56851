// The module loader of the platform layer: where it looks, in which order,
// and what it reports when nothing loads.
#include "platform/module.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace {

std::string program_folder() {
    std::string self = platform::executable_path();
    return self.substr(0, self.find_last_of('/') + 1);
}

using Which = int (*)();

TEST(ModuleLoader, LooksBesideTheProgramFirstThenInThePrivateFolder) {
    std::vector<std::string> files = platform::module_candidates("quaylink_window");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], program_folder() + "quaylink_window.so");
    EXPECT_EQ(files[1], program_folder() + QL_MODULE_RELDIR + "/quaylink_window.so");
}

TEST(ModuleLoader, FindsAModuleBesideTheProgram) {
    std::string error;
    auto which = reinterpret_cast<Which>(
        platform::module_function("ql_test_module_here", "ql_test_module_which", error));
    ASSERT_NE(which, nullptr) << error;
    EXPECT_EQ(which(), 1);
    EXPECT_TRUE(error.empty()) << error;
}

TEST(ModuleLoader, FindsAModuleInThePrivateFolderOfAnInstalledCopy) {
    std::string error;
    auto which = reinterpret_cast<Which>(
        platform::module_function("ql_test_module_private", "ql_test_module_which", error));
    ASSERT_NE(which, nullptr) << error;
    EXPECT_EQ(which(), 2);
}

TEST(ModuleLoader, AMissingModuleNamesEveryPlaceTried) {
    std::string error;
    EXPECT_EQ(platform::module_function("ql_no_such_module", "f", error), nullptr);
    for (const std::string& file : platform::module_candidates("ql_no_such_module"))
        EXPECT_NE(error.find(file + ": not found"), std::string::npos) << error;
}

TEST(ModuleLoader, AMissingFunctionIsReportedAndNothingIsReturned) {
    std::string error;
    EXPECT_EQ(platform::module_function("ql_test_module_here", "no_such_function", error),
              nullptr);
    EXPECT_NE(error.find("no_such_function"), std::string::npos) << error;
}

}  // namespace
