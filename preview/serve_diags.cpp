// The diagnostics of the pages' last builds, as the event streams tell them to the pages
// shown, and the part of the injected script that shows them over the page. Every text goes
// into the page as text (textContent), never as markup.
#include <algorithm>
#include <string>

#include "preview/serve_internal.h"

namespace {

constexpr size_t shown_entries = 20; // of each group; the rest is only counted
constexpr size_t max_text = 1000;    // bytes of one line or source line told

// text as a JSON string: quotes, backslashes and control characters escaped, cut at max_text
// bytes (a cut is marked with "...").
std::string json_string(const char *text)
{
    std::string out = "\"";
    size_t i = 0;
    for (; text[i] != '\0' && i < max_text; i++) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\')
            out.append(1, '\\').append(1, static_cast<char>(c));
        else if (c < 0x20 || c == 0x7f)
            out +=
                "\\u00" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        else
            out.push_back(static_cast<char>(c));
    }
    if (text[i] != '\0')
        out += "...";
    return out + "\"";
}

void add_entry(DiagGroup *group, const PreviewDiag &d)
{
    static const char *const kinds[] = {"error", "warning", "note"};
    if (d.kind != PREVIEW_NOTE)
        group->count++;
    if (group->entries.size() < shown_entries)
        group->entries.push_back("{\"k\":\"" + std::string(kinds[d.kind]) +
                                 "\",\"t\":" + json_string(d.line) +
                                 ",\"s\":" + json_string(d.source ? d.source : "") + "}");
    group->total++;
}

// The group of the library's entries followed by the page's, as a JSON object.
std::string group_json(const DiagGroup &library, const DiagGroup &page)
{
    std::string json = "{\"c\":" + std::to_string(library.count + page.count) +
                       ",\"n\":" + std::to_string(library.total + page.total) + ",\"e\":[";
    size_t shown = 0;
    for (const DiagGroup *group : {&library, &page})
        for (const std::string &entry : group->entries)
            if (shown++ < shown_entries)
                json.append(shown > 1 ? "," : "").append(entry);
    return json + "]}";
}

} // namespace

void show_preview_diags(PreviewServer *server, const char *path, const PreviewDiag *diags, int n)
{
    if (server == nullptr)
        return;
    PageDiags kept;
    DiagGroup *group = &kept.errors; // a note goes with the diagnostic before it
    for (int i = 0; i < n; i++) {
        if (diags[i].kind != PREVIEW_NOTE)
            group = diags[i].kind == PREVIEW_ERROR ? &kept.errors : &kept.warnings;
        add_entry(group, diags[i]);
    }
    std::lock_guard<std::mutex> hold(server->lock);
    if (n == 0)
        server->diags.erase(path);
    else
        server->diags[path] = std::move(kept);
}

std::string diags_event(PreviewServer *server, const std::string &path)
{
    static const PageDiags none;
    auto library = server->diags.find("*");
    auto page = server->diags.find(path);
    if (library == server->diags.end() && page == server->diags.end())
        return "";
    const PageDiags &lib = library != server->diags.end() ? library->second : none;
    const PageDiags &own = page != server->diags.end() && path != "*" ? page->second : none;
    return "event: diags\ndata: {\"errors\":" + group_json(lib.errors, own.errors) +
           ",\"warnings\":" + group_json(lib.warnings, own.warnings) + "}\n\n";
}

// A function show(d) that puts the diagnostics d of a diags event over the page: the errors
// listed, the warnings as a count that opens their list, a button that closes it all.
const char overlay_script[] =
    "function show(d){var o=document.getElementById('tovrel-diags');if(o)o.remove();"
    "if(!d.errors.c&&!d.warnings.c)return;"
    "function el(t,x){var e=document.createElement(t);if(x)e.textContent=x;return e}"
    "o=el('div');o.id='tovrel-diags';o.setAttribute('role','alert');"
    "o.style.cssText='position:fixed;z-index:2147483647;left:0;right:0;bottom:0;"
    "max-height:60%;overflow:auto;margin:0;padding:8px 12px;background:#fff;color:#111;"
    "border-top:4px solid '+(d.errors.c?'#c00':'#c80')+';font:13px/1.5 monospace;"
    "white-space:pre-wrap;text-align:left';"
    "var x=el('button','\\u00d7');x.setAttribute('aria-label','Close');x.style.cssText="
    "'float:right;font:inherit';x.onclick=function(){o.remove()};o.appendChild(x);"
    "function list(g,p){g.e.forEach(function(e){var l=el('div',e.t);l.className='tovrel-'+e.k;"
    "if(e.s)l.appendChild(el('div','    '+e.s));p.appendChild(l)});"
    "if(g.n>g.e.length)p.appendChild(el('div','and '+(g.n-g.e.length)+' more'))}"
    "function many(n,w){return n+' '+w+(n==1?'':'s')}"
    "if(d.errors.c){o.appendChild(el('strong',many(d.errors.c,'error')));list(d.errors,o)}"
    "if(d.warnings.c){var w=el('details');w.appendChild(el('summary',many(d.warnings.c,"
    "'warning')));list(d.warnings,w);o.appendChild(w)}"
    "(document.body||document.documentElement).appendChild(o)}";
