// The owner of the test programs' precompiled headers (tests/CMakeLists.txt): a program that does
// nothing, built with exactly the flags every test program shares.
int main()
{
    return 0;
}
