// Linked into the tests of sanitizer builds only. Graphics drivers unload their
// modules when the process exits, which leaves the leak checker with stacks it
// cannot name (and so cannot suppress). Keeping every module loaded keeps the
// names, so the suppressions in scripts/lsan.supp can match them.
extern "C" int dlclose(void *)
{
    return 0;
}
