// Writes the data folder's generated files.
int main() { return 0; }
