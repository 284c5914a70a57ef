// Stands in for the helper and the app in the generated-files tests: an
// executable that carries an embedded identity and nothing else, linked with
// --gc-sections so the sections have to survive it.
int main()
{
    return 0;
}
