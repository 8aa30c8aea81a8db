// The preview server left out: the build found no HTTP library. -p says so.
#include "preview/serve.h"

const bool preview_built = false;

int parse_preview_address(const char * /*text*/, PreviewAddress * /*addr*/)
{
    return -1;
}

PreviewServer *start_preview(const PreviewAddress * /*addr*/, const char * /*root*/,
                             std::string * /*url*/)
{
    return nullptr;
}

void notify_preview(PreviewServer * /*server*/, const char *const * /*paths*/, int /*n*/) {}

void show_preview_diags(PreviewServer * /*server*/, const char * /*path*/,
                        const PreviewDiag * /*diags*/, int /*n*/)
{
}

void stop_preview(PreviewServer * /*server*/) {}
