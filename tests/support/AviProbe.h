// Reads back a recorded AVI by demuxing it: frames of the video stream and
// whether an audio stream is there. A file without its index or with a
// broken header gives valid == false.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quell::test {

struct AviContents {
    bool valid = false;        // demuxed to the end without an error
    int videoFrames = 0;
    int audioBuffers = 0;
    int width = 0;
    int height = 0;
    gint64 durationNs = -1;
    bool finished = false;     // the multiplexer's end: RIFF size filled in and an index written
};

// True when the muxer completed the file: the RIFF chunk's size covers the
// whole file and its index ("idx1") is there, or the file is an OpenDML one
// with its super index ("indx"). A file cut off without end of stream keeps
// the header-only size and has no index.
inline bool AviFinished(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::string(bytes.data(), 4) != "RIFF")
        return false;
    const auto riffSize = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4]) |
                                                     static_cast<unsigned char>(bytes[5]) << 8 |
                                                     static_cast<unsigned char>(bytes[6]) << 16 |
                                                     static_cast<unsigned char>(bytes[7]) << 24);
    const std::string text(bytes.data(), bytes.size());
    const bool wholeRiff = static_cast<std::size_t>(riffSize) + 8 == bytes.size();
    return (wholeRiff && text.find("idx1") != std::string::npos) || text.find("indx") != std::string::npos;
}

inline AviContents ProbeAvi(const std::string& path)
{
    AviContents contents;
    contents.finished = AviFinished(path);
    GstElement* pipeline = gst_pipeline_new("avi-probe");
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* demux = gst_element_factory_make("avidemux", nullptr);
    if (!pipeline || !source || !demux)
        return contents;
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, demux, nullptr);
    gst_element_link(source, demux);

    struct Counts {
        GstElement* pipeline;
        AviContents* contents;
    } counts{pipeline, &contents};
    // Each stream of the file ends in a fakesink that counts its buffers.
    g_signal_connect(demux, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer data) {
                         auto* c = static_cast<Counts*>(data);
                         GstElement* sink = gst_element_factory_make("fakesink", nullptr);
                         g_object_set(sink, "sync", FALSE, "signal-handoffs", TRUE, nullptr);
                         const bool video = g_str_has_prefix(GST_PAD_NAME(pad), "video");
                         if (video) {
                             g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                                                  ++static_cast<AviContents*>(n)->videoFrames;
                                              }), c->contents);
                             if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
                                 GstStructure* s = gst_caps_get_structure(caps, 0);
                                 gst_structure_get_int(s, "width", &c->contents->width);
                                 gst_structure_get_int(s, "height", &c->contents->height);
                                 gst_caps_unref(caps);
                             }
                         } else {
                             g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                                                  ++static_cast<AviContents*>(n)->audioBuffers;
                                              }), c->contents);
                         }
                         gst_bin_add(GST_BIN(c->pipeline), sink);
                         gst_element_sync_state_with_parent(sink);
                         GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
                         gst_pad_link(pad, sinkPad);
                         gst_object_unref(sinkPad);
                     }),
                     &counts);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        contents.valid = true;
        gst_element_query_duration(pipeline, GST_FORMAT_TIME, &contents.durationNs);
    }
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return contents;
}

}  // namespace quell::test
