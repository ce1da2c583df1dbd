#include "render.h"

#include <GL/gl.h>

#include <cstdio>

#include "Textures.h"
#include "image_decode.h"
#include "messages.h"
#include "offscreen.h"

namespace kgl {

namespace {

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

uint32_t MakeRenderTexture(const TRenderOptions& options) {
    uint32_t texture = 0;
    if (!options.texture.empty()) {
        // The loader shows nothing for a name it has no reader for; say why here.
        if (ReaderForName(options.texture) == TImageReader::kNone)
            ShowMessage(
                options.texture + ": no texture reader for this extension (.bmp, .jpg or .tga); drawn untextured",
                "kglmodel");
        else
            LoadTexture(options.texture, texture, false);
        return texture;
    }
    const std::string checker = options.checkerFolder + "checker.jpg";
    if (FileExists(checker)) {
        LoadTexture(checker, texture, false);
        return texture;
    }
    const TImage image = CheckerImage(256, 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, image.alignment);
    return CreateTexture(static_cast<uint16_t>(image.width), static_cast<uint16_t>(image.height), GL_RGB,
                         image.pixels.data());
}

bool RenderModel(TKGLModel& model, const TRenderOptions& options, TRgbPicture& picture, std::string& why) {
    TOffscreenContext context(options.width, options.height);
    if (!context.ok()) {
        why = "no offscreen OpenGL context (OSMesa) of " + std::to_string(options.width) + " x " +
              std::to_string(options.height) + " could be made";
        return false;
    }
    context.setViewProjection();
    TFrameView view = options.view;
    view.texture = MakeRenderTexture(options);
    SetEditorFrameState(model, view);
    DrawFrame(model, view);
    picture.width = options.width;
    picture.height = options.height;
    picture.rgb = context.rowsTopFirst();
    return true;
}

}  // namespace kgl
