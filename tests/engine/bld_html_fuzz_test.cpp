// Inputs the fuzz targets found mishandled, kept as scenarios of their own. Each runs in a
// child process (fresh stores) and compares the output stream and standard error exactly.
#include "engine/bld_html.h"

#include <gtest/gtest.h>
#include <string>

#include "child_run.h"
#include "engine_fixture.h"

TEST(FuzzFindings, NulByteEndsALibraryLineAlsoForTheClosingTest)
{
    // ">" followed by a NUL byte is kept as ">", so it must close the macro like ">" does,
    // and an opening line's name ends at a NUL byte as well.
    ChildRun run = run_child([](FILE *out) {
        load_library(std::string(">M\nbody\n>\0junk\n>N\0x\nnn\n>\n", 25));
        do_include(out, "M");
        do_include(out, "N");
    });
    EXPECT_EQ(run.out, "body\nnn\n");
    EXPECT_EQ(run.std_err, "");
    EXPECT_EQ(run.status, 0);
}
