// A loadable library that is not an ExtIO plug-in.
extern "C" __attribute__((visibility("default"))) int notAnExtioPlugin()
{
    return 42;
}
