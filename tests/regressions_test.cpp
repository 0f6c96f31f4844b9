// Every input a fuzz target once stumbled on, and every corpus archive, run through
// all fuzz targets' bodies: header walk, each decoder, configuration block and the
// whole extraction loop with its escape check.
#include <gtest/gtest.h>

#include "fuzz/fuzz_targets.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> files;
    for (const std::string& name : folder_entries(folder))
        if (name != "README.md") files.push_back(folder + "/" + name);
    return files;
}

TEST(Regressions, SavedFuzzInputsStayHarmless) {
    for (const std::string& path : files_in(source_path("tests/data/regressions"))) {
        SCOPED_TRACE(path);
        Bytes data = read_file(path);
        fuzz_all(data.data(), data.size());
    }
}

TEST(Regressions, CorpusArchivesPassEveryTarget) {
    for (const std::string& path : files_in(source_path("tests/data/corpus"))) {
        if (path.size() < 4 || path.substr(path.size() - 4) != ".lzh") continue;
        SCOPED_TRACE(path);
        Bytes data = read_file(path);
        fuzz_all(data.data(), data.size());
    }
}

}  // namespace
