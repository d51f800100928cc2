// Linked into the AddressSanitizer builds of the test programs that play
// sounds through GStreamer: full call stacks for every allocation, so that
// LeakSanitizer can tell GLib's process-lifetime blocks (made while a library
// loads) from a real leak, and the suppression file can name them exactly.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
