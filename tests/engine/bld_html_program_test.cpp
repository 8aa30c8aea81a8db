// The engine seen through the program: argument variables blanked by an include with no
// fields, and the traces of a small page at two verbosities, written out by hand.
#include <gtest/gtest.h>

#include <string>

#include "run_tovrel.h"

TEST(ProgramExpansion, IncludeWithNoFieldsBlanksArgumentsFromArgZero)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/include/include.txt",
               std::string(test_library()) + ">\n[$[arg0]][$[]]\n>\n");
    write_file(box.site + "/in/p.html", "T\n\n>!set||X|\n>!set|arg0|Y|\n>|a\n>\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Executing include (>!set||X|\n)\nExecuting include (>!set|arg0|Y|\n)\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"), framed_page("T", "", "[Y][X]\n[][X]\n"));
}

namespace {

const char trace_library[] = ">PageStart\n>\n>PageHdr\n>\n>PageEnd\n>\n>SubMenuStart\n>\n"
                             ">SubMenuItem\n<li>$[1]</li>\n>\n>SubMenuEnd\n>\n>SubLink\n>\n"
                             ">Box\n<b>$[1]</b>\n>Inner|$[2]\n>\n>Inner\n<i>$[arg1]</i>\n>\n";

const char trace_page[] = "Title\n<meta>\n\n>Box|a|b\n<p>text</p>\n>!set|c|blue\n"
                          ">!if|$[c]|==|blue|Y|N|\n>SubLink|Home|index.html\n";

} // namespace

TEST(ProgramExpansion, TracesOfEveryStepInTheirOrder)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/include/include.txt", trace_library);
    write_file(box.site + "/in/p.html", trace_page);
    const std::string all_steps = "do_include(PageStart|Title)\n"
                                  "Setting arg: arg1|Title.\n"
                                  "Variable [arg1] set to [Title]\n"
                                  "do_set:nargs|2\n"
                                  "Variable [nargs] set to [2]\n"
                                  "process_include(PageStart), nargs=2  [PageStart] [Title]\n"
                                  "do_include(PageHdr|Title)\n"
                                  "Setting arg: arg1|Title.\n"
                                  "Variable [arg1] changed from [Title] to [Title]\n"
                                  "do_set:nargs|2\n"
                                  "Variable [nargs] changed from [2] to [2]\n"
                                  "process_include(PageHdr), nargs=2  [PageHdr] [Title]\n"
                                  "do_include(Box|a|b\n)\n"
                                  "Setting arg: arg1|a.\n"
                                  "Variable [arg1] changed from [Title] to [a]\n"
                                  "Setting arg: arg2|b.\n"
                                  "Variable [arg2] set to [b]\n"
                                  "do_set:nargs|3\n"
                                  "Variable [nargs] changed from [2] to [3]\n"
                                  "process_include(Box), nargs=3  [Box] [a] [b]\n"
                                  "get_val(1)=a.\n"
                                  "Copy: [<b>a</b>]\n"
                                  "get_val(2)=b.\n"
                                  "Embedded: [>Inner|b]\n"
                                  "do_include(Inner|b)\n"
                                  "Setting arg: arg1|b.\n"
                                  "Variable [arg1] changed from [a] to [b]\n"
                                  "do_set:nargs|2\n"
                                  "Variable [nargs] changed from [3] to [2]\n"
                                  "Variable [arg2] changed from [b] to [(null)]\n"
                                  "process_include(Inner), nargs=2  [Inner] [b]\n"
                                  "get_val(arg1)=b.\n"
                                  "Copy: [<i>b</i>]\n"
                                  "Executing include (>!set|c|blue\n)\n"
                                  "do_exec:set|c|blue.\n"
                                  "do_set:c|blue\n"
                                  "Variable [c] set to [blue]\n"
                                  "Executing include (>!if|$[c]|==|blue|Y|N|\n)\n"
                                  "do_exec:if|$[c]|==|blue|Y|N|.\n"
                                  "do_if($[c]|==|blue|Y|N|)\n"
                                  "get_val(c)=blue.\n"
                                  "do_if: str1=$[c], str2=blue, s1=blue, s2=blue, t=Y, f=N, "
                                  "rval=2\n"
                                  "do_if returned 0\n"
                                  "do_include(SubLink|Home|index.html\n)\n"
                                  "Setting arg: arg1|Home.\n"
                                  "Variable [arg1] changed from [b] to [Home]\n"
                                  "Setting arg: arg2|index.html.\n"
                                  "Variable [arg2] set to [index.html]\n"
                                  "do_set:nargs|3\n"
                                  "Variable [nargs] changed from [2] to [3]\n"
                                  "process_include(SubLink), nargs=3  [SubLink] [Home] "
                                  "[index.html]\n"
                                  "do_include(SubMenuStart)\n"
                                  "do_set:nargs|1\n"
                                  "Variable [nargs] changed from [3] to [1]\n"
                                  "Variable [arg1] changed from [Home] to [(null)]\n"
                                  "Variable [arg2] changed from [index.html] to [(null)]\n"
                                  "process_include(SubMenuStart), nargs=1  [SubMenuStart]\n"
                                  "do_include(SubMenuItem|Home|index.html\n)\n"
                                  "Setting arg: arg1|Home.\n"
                                  "Variable [arg1] set to [Home]\n"
                                  "Setting arg: arg2|index.html.\n"
                                  "Variable [arg2] set to [index.html]\n"
                                  "do_set:nargs|3\n"
                                  "Variable [nargs] changed from [1] to [3]\n"
                                  "process_include(SubMenuItem), nargs=3  [SubMenuItem] [Home] "
                                  "[index.html]\n"
                                  "get_val(1)=Home.\n"
                                  "Copy: [<li>Home</li>]\n"
                                  "do_include(SubMenuEnd)\n"
                                  "do_set:nargs|1\n"
                                  "Variable [nargs] changed from [3] to [1]\n"
                                  "Variable [arg1] changed from [Home] to [(null)]\n"
                                  "Variable [arg2] changed from [index.html] to [(null)]\n"
                                  "process_include(SubMenuEnd), nargs=1  [SubMenuEnd]\n"
                                  "do_include(PageEnd)\n"
                                  "do_set:nargs|1\n"
                                  "Variable [nargs] changed from [1] to [1]\n"
                                  "process_include(PageEnd), nargs=1  [PageEnd]\n";
    const std::string expansions =
        "process_include(PageStart), nargs=2  [PageStart] [Title]\n"
        "process_include(PageHdr), nargs=2  [PageHdr] [Title]\n"
        "process_include(Box), nargs=3  [Box] [a] [b]\n"
        "process_include(Inner), nargs=2  [Inner] [b]\n"
        "Executing include (>!set|c|blue\n)\n"
        "Executing include (>!if|$[c]|==|blue|Y|N|\n)\n"
        "do_if($[c]|==|blue|Y|N|)\n"
        "do_if: str1=$[c], str2=blue, s1=blue, s2=blue, t=Y, f=N, rval=2\n"
        "process_include(SubLink), nargs=3  [SubLink] [Home] [index.html]\n"
        "process_include(SubMenuStart), nargs=1  [SubMenuStart]\n"
        "process_include(SubMenuItem), nargs=3  [SubMenuItem] [Home] [index.html]\n"
        "process_include(SubMenuEnd), nargs=1  [SubMenuEnd]\n"
        "process_include(PageEnd), nargs=1  [PageEnd]\n";
    for (const auto &[verbosity, expected] : {std::pair{"10", all_steps}, {"6", expansions}}) {
        RunResult r = run_tovrel(box, {"-v", verbosity, "p"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected) << "-v " << verbosity;
        EXPECT_EQ(read_file(box.site + "/out/p.html"),
                  "<meta>\n<b>a</b>\n<i>b</i>\n<p>text</p>\nY<li>Home</li>\n");
    }
}
