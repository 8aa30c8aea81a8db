// How a page is put in place: a replaced page keeps its owner and group, and an interrupted
// or failed run leaves no partial or hidden file behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "run_tovrel.h"

TEST(PageOutput, ReplacedPageKeepsOwnerAndGroup)
{
    Sandbox box;
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a test file another owner";
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nbody\n");
    write_file(box.site + "/out/a.html", "old\n");
    std::string out = box.site + "/out/a.html";
    ASSERT_EQ(chown(out.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    RunResult r = run_tovrel(box, {"a"});
    EXPECT_EQ(r.err, "");
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read_file(out), framed_page("A", "", "body\n"));
}

TEST(PageOutput, InterruptedBatchLeavesOnlyWholePages)
{
    // Signals at different moments of a batch of large pages, half of them replacing earlier
    // ones: the run ends by the signal, and every page is either whole or as it was. Each page
    // also runs a macro to its expansion limit, so the batch lasts well beyond the signal.
    const std::string library = std::string(test_library()) + ">Self\nself\n>Self\n>Self\n>\n";
    const std::string page_text = "T\n\n" + std::string(2 << 20, 'x') + "\n>Self\n";
    Sandbox reference;
    make_site(reference);
    write_file(reference.site + "/include/include.txt", library);
    write_file(reference.site + "/in/p.html", page_text);
    run_tovrel(reference, {"p"});
    const std::string whole = read_file(reference.site + "/out/p.html");
    ASSERT_GT(whole.size(), size_t{2} << 20);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        for (int delay_ms : {5, 40, 150}) {
            Sandbox box;
            make_site(box);
            write_file(box.site + "/include/include.txt", library);
            for (int i = 0; i < 40; i++) {
                std::string name = std::to_string(100 + i).replace(0, 1, "p");
                write_file(box.site + "/in/" + name + ".html", page_text);
                if (i % 2 == 0)
                    write_file(box.site + "/out/" + name + ".html", "earlier page\n");
            }
            RunSpec job;
            job.args = {"-a"};
            pid_t pid = start_tovrel(box, job);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            kill(pid, sig);
            RunResult r = wait_tovrel(box, pid);
            EXPECT_EQ(r.status, 128 + sig) << delay_ms;
            for (const std::string &name : dir_names(box.site + "/out")) {
                ASSERT_NE(name[0], '.') << "left behind: " << name;
                std::string page = read_file(box.site + "/out/" + name);
                EXPECT_TRUE(page == "earlier page\n" || page == whole) << name;
            }
        }
    }
}
