// Only the owner of the GUI suites' precompiled header: it runs no test.
int main() { return 0; }
