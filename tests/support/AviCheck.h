// Reading a recorded AVI back the way a player does: its RIFF parts
// chained to the end of the file, and every frame and sound buffer decoded.
// Streams through the file, so it suits files of any size.
#pragma once

#include "graph/GraphRefs.h"
#include "graph/GstRef.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace quell::test {

struct Decoded {
    bool ok = false;   // decoded to its end without an error
    int videoFrames = 0;
    int audioBuffers = 0;
    std::uint64_t audioBytes = 0;
};

// Decodes the file through decodebin to raw pictures and sound: what a
// player gets out of it.
inline Decoded DecodeAvi(const std::string& path)
{
    Decoded decoded;
    GstRef<GstElement> pipeline = Adopt(gst_pipeline_new("decode-check"));
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    if (!pipeline || !source || !decoder)
        return decoded;
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, decoder, nullptr);
    gst_element_link(source, decoder);
    struct Context {
        GstElement* pipeline;
        Decoded* decoded;
    } context{pipeline.get(), &decoded};
    g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer data) {
                         auto* c = static_cast<Context*>(data);
                         CapsRef caps(gst_pad_query_caps(pad, nullptr));
                         const bool video = caps && gst_caps_get_size(caps.get()) > 0 &&
                                            g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "video/");
                         GstElement* sink = gst_element_factory_make("fakesink", nullptr);
                         g_object_set(sink, "sync", FALSE, "signal-handoffs", TRUE, nullptr);
                         if (video)
                             g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                                                  ++static_cast<Decoded*>(n)->videoFrames;
                                              }),
                                              c->decoded);
                         else
                             g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer n) {
                                                  ++static_cast<Decoded*>(n)->audioBuffers;
                                                  static_cast<Decoded*>(n)->audioBytes += gst_buffer_get_size(buffer);
                                              }),
                                              c->decoded);
                         gst_bin_add(GST_BIN(c->pipeline), sink);
                         gst_element_sync_state_with_parent(sink);
                         GstRef<GstPad> in(gst_element_get_static_pad(sink, "sink"));
                         gst_pad_link(pad, in.get());
                     }),
                     &context);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    MessageRef message(gst_bus_timed_pop_filtered(bus.get(), 120 * GST_SECOND,
                                                  static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    decoded.ok = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return decoded;
}

// Top-level chunks chain to the end of the file: one "AVI " RIFF and, for
// each further gigabyte, an "AVIX" one; an OpenDML file has its super
// index. A cut-off file fails: its sizes still describe an empty file.
inline bool AviStructureOk(const std::string& path, int& parts, bool& superIndex)
{
    std::ifstream file(path, std::ios::binary);
    const std::uint64_t size = std::filesystem::file_size(path);
    parts = 0;
    superIndex = false;
    std::uint64_t at = 0;
    while (at + 12 <= size) {
        unsigned char header[12];
        file.seekg(static_cast<std::streamoff>(at));
        if (!file.read(reinterpret_cast<char*>(header), sizeof header))
            return false;
        const std::string fourcc(reinterpret_cast<char*>(header), 4);
        const std::string type(reinterpret_cast<char*>(header) + 8, 4);
        const std::uint64_t length = header[4] | header[5] << 8 | header[6] << 16 | std::uint64_t(header[7]) << 24;
        if (fourcc != "RIFF" || type != (parts == 0 ? "AVI " : "AVIX"))
            return false;
        if (parts == 0) {
            std::string head(std::min<std::uint64_t>(length, 8192), '\0');
            file.read(head.data(), static_cast<std::streamsize>(head.size()));
            superIndex = head.find("indx") != std::string::npos;
        }
        ++parts;
        at += 8 + length + (length & 1);
    }
    return at == size && parts > 0;
}

}  // namespace quell::test
