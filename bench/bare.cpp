// A program that only returns: the cost of any process under Wine.
int main() { return 0; }
