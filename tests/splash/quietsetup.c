/* The setup program of the screen test's package: ends at once. */
int main(void) { return 0; }
