// Program entry of the stub.  For now: open the own file, find the configuration
// block behind the image and read it; the window side follows.
#include <windows.h>

#include "frontend/config_block.h"
#include "frontend/pe_image.h"
#include "frontend/run_record.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    SfxApp app;
    init_app(&app, instance);
    GetModuleFileNameA(nullptr, app.own_path, sizeof app.own_path);
    app.archive_file = fopen(app.own_path, "rb");
    int result = 0;
    uint32_t stub_size = pe_image_end((const uint8_t*)instance, 4096);
    if (app.archive_file != nullptr && stub_size != 0 &&
        fseek(app.archive_file, (long)stub_size, SEEK_SET) == 0 && read_config(&app))
        result = 0;
    release_app(&app);
    return result;
}
