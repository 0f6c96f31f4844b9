// Every archive of the corpus, extracted through the engine into a scratch folder
// under TZ=UTC, must reproduce the manifest: paths, contents and time stamps.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <map>
#include <set>

#include <gtest/gtest.h>

#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"

namespace {

std::vector<ManifestEntry> manifest() {
    static std::vector<ManifestEntry> entries = read_manifest(corpus_path("manifest.tsv"));
    return entries;
}

// The jLHA "-lh2-" members depart from the format's adaptive model in one rule: they
// come out right only by the older encoders' rule, and are reported so.
bool is_older_lineage(const std::string& archive) { return archive.rfind("lh2", 0) == 0; }

class CorpusArchive : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusArchive, ExtractsAsTheManifestSays) {
    TimeZone utc("UTC");
    const std::string archive = GetParam();
    ScratchFolder scratch;
    ReportRecorder recorder;
    EngineRun run = run_engine_on(corpus_path(archive));
    EXPECT_FALSE(run.archive_damaged);

    std::set<std::string> failed;
    for (const auto& f : recorder.failures) failed.insert(f.name);
    for (const ManifestEntry& e : manifest()) {
        if (e.archive != archive) continue;
        std::string path = scratch / e.path;
        if (e.is_folder) {
            EXPECT_TRUE(folder_exists(path)) << e.path;
            continue;
        }
        ASSERT_TRUE(file_exists(path)) << e.path;
        Bytes content = read_file(path);
        EXPECT_EQ(content.size(), e.size) << e.path;
        EXPECT_EQ(sha256_hex(content), e.sha256) << e.path;
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ((uint32_t)st.st_mtime, e.mtime) << e.path;
        EXPECT_EQ(failed.count(e.path), 0u) << e.path << " reported as failed";
    }
    EXPECT_EQ(run.failure_count, 0u);
    ToolRun tested = run_tool({"test", corpus_path(archive)});
    EXPECT_EQ(tested.status, 0) << "mavusfx test";

    // Exactly the "-lh2-" members of the older lineage are read by its rule, and
    // `test` says so for each.
    std::set<std::string> older(recorder.older_readings.begin(), recorder.older_readings.end());
    std::set<std::string> lh2_members;
    if (is_older_lineage(archive))
        for (const ArchiveMember& m : read_archive_members(corpus_path(archive)))
            if (m.method == "-lh2-") lh2_members.insert(m.name);
    EXPECT_EQ(older, lh2_members);
    EXPECT_EQ(tested.out.find("older encoders' rule") != std::string::npos, !lh2_members.empty());
}

std::vector<std::string> corpus_archives() {
    std::set<std::string> names;
    for (const ManifestEntry& e : manifest()) names.insert(e.archive);
    return std::vector<std::string>(names.begin(), names.end());
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(0, info.param.find('.'));
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusArchive, ::testing::ValuesIn(corpus_archives()), test_name);

}  // namespace
