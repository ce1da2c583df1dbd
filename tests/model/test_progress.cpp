// Progress and cancellation of the long work of the model core: both readers (which
// read big files on several threads), both writers, the bake and the triangulation report
// rising work of a known total, on the calling thread only, and a handler that asks to stop leaves the
// model and every file as they were, without a message.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "KGLModel.h"
#include "errors.h"
#include "progress.h"
#include "test_support.h"

using namespace kgl;
using kgl::test::ReadFile;
using kgl::test::TMessageRecorder;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

namespace {

// An n x n grid of triangles (or quads) as OBJ text: big enough (some MB, some 10^5
// records) that every meter reports more than once.
std::string GridText(int n, bool quads = false) {
    std::string s = "g grid\n";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) s += "v " + std::to_string(i) + " " + std::to_string(j) + " 0\n";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i + 1, b = a + 1, c = a + n + 1, d = c + 1;
            if (quads) {
                s += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + " " +
                     std::to_string(c) + "\n";
                continue;
            }
            s += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + "\n";
            s += "f " + std::to_string(a) + " " + std::to_string(d) + " " + std::to_string(c) + "\n";
        }
    return s;
}

struct TReports {
    std::vector<std::pair<uint64_t, uint64_t>> seen;
    bool stop = false;
    int elsewhere = 0;  // reports from another thread than the one that asked for the work
};

// Installs a handler that records every report and answers !stop; restores the
// previous one when it goes.
class TProgressRecorder {
public:
    explicit TProgressRecorder(TReports& r)
        : previous_(SetProgressHandler([&r, caller = std::this_thread::get_id()](uint64_t done, uint64_t total) {
              if (std::this_thread::get_id() != caller) {
                  ++r.elsewhere;
                  return true;
              }
              r.seen.emplace_back(done, total);
              return !r.stop;
          })) {}
    ~TProgressRecorder() { SetProgressHandler(std::move(previous_)); }

private:
    TProgressHandler previous_;
};

}  // namespace

TEST(Progress, EveryLongWorkReportsAndStopsWhenAsked) {
    SetLoadThreads(2);  // the readers' threads, whatever the size
    struct TRestore {
        ~TRestore() { SetLoadThreads(0); }
    } restore;
    TTempDir dir;
    const std::string obj = dir.file("grid.obj"), kgm = dir.file("grid.kgm");
    WriteFile(obj, GridText(220));
    TKGLModel grid;
    ASSERT_TRUE(LoadFromFile(grid, obj));
    SaveToKGM(grid, kgm);
    Reduce(grid, 0.5);
    TKGLModel quads;
    ASSERT_TRUE(LoadOBJFromMemory(quads, GridText(260, true)));
    const std::string quadBytes = SaveToKGMBytes(quads);
    const std::string outObj = dir.file("out.obj"), outKgm = dir.file("out.kgm");

    // Each work: run it into the model `into` (which it may change only on success).
    struct TWork {
        const char* name;
        std::function<bool(TKGLModel& into)> run;
        std::string file;  // the file it writes, if any
    };
    const std::vector<TWork> works = {
        {"OBJ load", [&](TKGLModel& into) { return LoadOBJ(into, obj); }, ""},
        {"KGM load", [&](TKGLModel& into) { return LoadKGM(into, kgm); }, ""},
        {"bake", [&](TKGLModel& into) { return BakeReduction(grid, into); }, ""},
        {"triangulation",
         [&](TKGLModel& into) {
             TKGLModel cut = quads;
             if (!TriangulateFaces(cut)) {
                 TProgressHandler recording = SetProgressHandler({});  // the save reports too
                 EXPECT_EQ(SaveToKGMBytes(cut), quadBytes);
                 SetProgressHandler(std::move(recording));
                 return false;
             }
             into = std::move(cut);
             return true;
         },
         ""},
        {"KGM save",
         [&](TKGLModel&) {
             try {
                 SaveToKGM(grid, outKgm);
                 return true;
             } catch (const ECancelled&) {
                 return false;
             }
         },
         outKgm},
        {"OBJ save",
         [&](TKGLModel&) {
             SaveToOBJ(grid, outObj);  // a cancel ends it normally, the file kept
             return ReadFile(outObj) != "old";
         },
         outObj},
    };
    for (const TWork& work : works) {
        SCOPED_TRACE(work.name);
        TMessageRecorder messages;
        TReports reports;
        if (!work.file.empty()) WriteFile(work.file, "old");
        {
            TProgressRecorder recorder(reports);
            TKGLModel into;
            ASSERT_TRUE(work.run(into));
        }
        if (!work.file.empty()) {
            EXPECT_NE(ReadFile(work.file), "old");
        }
        ASSERT_GE(reports.seen.size(), 2u);
        EXPECT_EQ(reports.elsewhere, 0);  // a toolkit's handler may be called from its own thread only
        const uint64_t total = reports.seen.front().second;
        EXPECT_GT(total, 0u);
        for (size_t i = 0; i < reports.seen.size(); ++i) {
            EXPECT_EQ(reports.seen[i].second, total);
            EXPECT_LE(reports.seen[i].first, total);
            if (i > 0) {
                EXPECT_GT(reports.seen[i].first, reports.seen[i - 1].first);
            }
        }

        // Asked to stop at the first report: nothing changes, nothing is said.
        if (!work.file.empty()) WriteFile(work.file, "old");
        reports = {};
        reports.stop = true;
        TKGLModel kept;
        ASSERT_TRUE(LoadOBJFromMemory(kept, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"));
        {
            TProgressRecorder recorder(reports);
            EXPECT_FALSE(work.run(kept));
        }
        EXPECT_EQ(reports.seen.size(), 1u);
        EXPECT_EQ(kept.fCount, 1);
        if (!work.file.empty()) {
            EXPECT_EQ(ReadFile(work.file), "old");
        }
        EXPECT_EQ(messages.count(), 0u);
    }
    // No temporary file is left beside the targets.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}
