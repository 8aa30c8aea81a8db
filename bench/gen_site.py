#!/usr/bin/env python3
"""Writes a deterministic test site for timing tovrel: DIR/include/include.txt (about 40
macros) and DIR/in/ with N pages of about 4 KB each, named page000000.html and so on.

Each page has a title, two header lines, an empty line, then paragraphs mixed with 4 to 6
include lines (1 to 4 arguments), one or two exec lines and 2 to 4 sub-link lines. The same
N and seed always give the same bytes.

usage: gen_site.py DIR N [--seed S]
"""
import argparse
import os
import random

WORDS = (
    "site page build macro include library header footer menu link text news archive "
    "product service contact about team report update release notes guide manual index "
    "section article summary detail example feature change version support question answer "
    "the a of and to in for with on by from at as is are was this that it be or"
).split()

SECTIONS = ["Products", "Services", "News", "Support", "About", "Blog", "Docs", "Events"]
AUTHORS = ["Ada", "Brian", "Carla", "Dennis", "Edsger", "Frances", "Grace", "Ken"]

LIBRARY_HEAD = """Include library of the generated benchmark site.

Everything outside a macro is a comment. The build includes PageStart, PageHdr and
PageEnd around every page, and SubMenuStart, SubMenuItem and SubMenuEnd for the sub-menu.

"""

# Frame and sub-menu macros: variables, if, nested includes.
FRAME_MACROS = r""">PageStart
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>$[1] - Bench Site</title>
<link rel="stylesheet" href="/css/site.css">
>!set|title|$[1]
>!set|sublinks|no
>!set|section|
>!set|author|
>

>PageHdr
</head>
<body>
>SkipLink
>NavBar
>Breadcrumb|$[title]
<main>
<h1>$[title]</h1>
>

>NavBar
<nav class="top">
>NavLink|index.html|Home
>NavLink|products.html|Products
>NavLink|services.html|Services
>NavLink|news.html|News
>NavLink|support.html|Support
>NavLink|about.html|About
</nav>
>

>NavLink
>!if|$[title]|==|$[2]|<b>$[2]</b>|<a href="$[1]">$[2]</a>

>

>SkipLink
<a class="skip" href="#main">Skip to content</a>
>

>Breadcrumb
<p class="crumbs"><a href="index.html">Home</a> &rsaquo; $[1]</p>
>

>PageEnd
</main>
>Footer|2026
>Analytics
</body>
</html>
>

>Footer
<footer>
>!if|$[author]|!=||<p>Written by $[author]</p>|
<p>&copy; $[1] Bench Site &middot; $[title]$[section]</p>
>FooterLinks
</footer>
>

>FooterLinks
<p><a href="privacy.html">Privacy</a> &middot; <a href="terms.html">Terms</a> &middot; <a href="contact.html">Contact</a></p>
>

>Analytics
<script src="/js/site.js" defer></script>
>

>SubLink
>!set|sublinks|yes
<p class="see-also">See also: <a href="$[2]">$[1]</a></p>
>

>SubMenuStart
>!if|$[sublinks]|==|yes|<aside class="submenu"><h2>On this site</h2><ul>|<!-- no sub-links -->

>

>SubMenuItem
<li><a href="$[2]">$[1]</a></li>
>

>SubMenuEnd
>!if|$[sublinks]|==|yes|</ul></aside>|

>

"""

# Macros the pages include: (name, argument count, body).
CONTENT_MACROS = [
    ("Section", 1, ">!set|section| &middot; section $[1]\n"),
    ("Author", 1, ">!set|author|$[1]\n<p class=\"byline\">By $[1]</p>\n"),
    ("Box", 2, "<div class=\"box\">\n<h2>$[1]</h2>\n<p>$[2]</p>\n>BoxNote|$[1]\n</div>\n"),
    ("BoxNote", 1, "<p><small>(The box \"$[1]\" comes from the macro Box.)</small></p>\n"),
    ("NewsItem", 2, "<li>$[1]: $[2]\n>!if|$[1]|>=|2026-12|<strong>new</strong>|\n</li>\n"),
    ("Figure", 3, "<figure>\n<img src=\"img/$[1]\" alt=\"$[2]\">\n<figcaption>$[3]</figcaption>\n</figure>\n"),
    ("Quote", 2, "<blockquote>\n<p>$[1]</p>\n<cite>$[2]</cite>\n</blockquote>\n"),
    ("Note", 1, "<p class=\"note\"><b>Note:</b> $[1]</p>\n"),
    ("Warning", 1, "<p class=\"warning\"><b>Warning:</b> $[1]</p>\n"),
    ("Tip", 1, "<p class=\"tip\"><b>Tip:</b> $[1]</p>\n"),
    ("Card", 4, "<div class=\"card\">\n<h3>$[1]</h3>\n<p>$[2]</p>\n>Button|$[3]|$[4]\n</div>\n"),
    ("Button", 2, "<a class=\"button\" href=\"$[1]\">$[2]</a>\n"),
    ("Price", 2, ">!if|$[2]|==|0|<p class=\"price\">$[1]: free</p>|<p class=\"price\">$[1]: $[2] EUR</p>\n\n"),
    ("Tag", 1, "<span class=\"tag\">$[1]</span>\n"),
    ("Tags", 3, "<p class=\"tags\">\n>Tag|$[1]\n>Tag|$[2]\n>Tag|$[3]\n</p>\n"),
    ("Date", 1, "<p class=\"date\"><time>$[1]</time></p>\n"),
    ("Download", 3, "<p class=\"download\"><a href=\"files/$[1]\">$[2]</a> ($[3])</p>\n"),
    ("Video", 2, "<video controls src=\"media/$[1]\" title=\"$[2]\"></video>\n"),
    ("Code", 1, "<pre><code>$[1]</code></pre>\n"),
    ("Table", 3, "<table>\n<tr><th>$[1]</th><th>$[2]</th></tr>\n>TableRow|$[3]|$[title]\n</table>\n"),
    ("TableRow", 2, "<tr><td>$[1]</td><td>$[2]</td></tr>\n"),
    ("Contact", 2, "<address>\n<a href=\"mailto:$[2]\">$[1]</a>\n</address>\n"),
    ("Faq", 2, "<details>\n<summary>$[1]</summary>\n<p>$[2]</p>\n</details>\n"),
    ("Rating", 1, ">!if|$[1]|>=|4|<p class=\"rating good\">Rated $[1] of 5</p>|<p class=\"rating\">Rated $[1] of 5</p>\n\n"),
    ("Updated", 1, "<p class=\"updated\">Last updated $[1] in$[section]</p>\n"),
]


def library_text():
    parts = [LIBRARY_HEAD, FRAME_MACROS]
    for name, nargs, body in CONTENT_MACROS:
        parts.append("%s: %d argument(s).\n>%s\n%s>\n\n" % (name, nargs, name, body))
    return "".join(parts)


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def paragraph(rng):
    return "<p>" + words(rng, rng.randint(40, 90)).capitalize() + ".</p>\n"


def include_line(rng, page_count):
    name, nargs, _ = rng.choice(CONTENT_MACROS)
    while nargs > 4 or name in ("BoxNote", "TableRow", "Tag", "Button"):
        name, nargs, _ = rng.choice(CONTENT_MACROS)
    args = []
    for _ in range(nargs):
        kind = rng.random()
        if kind < 0.2:
            args.append("page%06d.html" % rng.randrange(page_count))
        elif kind < 0.3:
            args.append(str(rng.randint(0, 5)))
        else:
            args.append(words(rng, rng.randint(1, 6)))
    marker = rng.choice([">", ">", ">", "]", "  >"])
    return marker + "|".join([name] + args) + "\n"


def exec_line(rng):
    kind = rng.random()
    if kind < 0.5:
        return ">!set|section| &middot; %s|\n" % rng.choice(SECTIONS)
    if kind < 0.8:
        return ">!set|author|%s|\n" % rng.choice(AUTHORS)
    return "]!if|$[sublinks]|==|yes|<p>This page has related pages.</p>|<p>No related pages.</p>|\n"


def sublink_line(rng, page_count):
    target = "page%06d.html" % rng.randrange(page_count)
    return ">SubLink|%s|%s\n" % (words(rng, rng.randint(1, 4)).capitalize(), target)


def page_text(rng, index, page_count, size=3900):
    head = [
        "Page %d: %s\n" % (index, words(rng, rng.randint(2, 6)).title()),
        "<meta name=\"description\" content=\"%s\">\n" % words(rng, 10),
        "<meta name=\"keywords\" content=\"%s\">\n" % ", ".join(rng.sample(WORDS, 5)),
        "\n",
    ]
    special = [include_line(rng, page_count) for _ in range(rng.randint(4, 6))]
    special += [exec_line(rng) for _ in range(rng.randint(1, 2))]
    special += [sublink_line(rng, page_count) for _ in range(rng.randint(2, 4))]
    rng.shuffle(special)
    body = []
    length = sum(len(s) for s in head) + sum(len(s) for s in special)
    target = size + rng.randint(-400, 400)
    while length < target:
        line = paragraph(rng)
        body.append(line)
        length += len(line)
    # Spread the special lines between the paragraphs.
    for line in special:
        body.insert(rng.randrange(len(body) + 1), line)
    return "".join(head + body)


def write_site(root, count, seed):
    os.makedirs(os.path.join(root, "include"), exist_ok=True)
    os.makedirs(os.path.join(root, "in"), exist_ok=True)
    with open(os.path.join(root, "include", "include.txt"), "w") as f:
        f.write(library_text())
    for i in range(count):
        rng = random.Random("%d/%d" % (seed, i))
        with open(os.path.join(root, "in", "page%06d.html" % i), "w") as f:
            f.write(page_text(rng, i, count))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("count", type=int)
    parser.add_argument("--seed", type=int, default=1)
    opts = parser.parse_args()
    write_site(opts.dir, opts.count, opts.seed)


if __name__ == "__main__":
    main()
