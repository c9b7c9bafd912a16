// The floor of the veltools benchmark: a program that does nothing, built as
// veltools is.
int wmain() { return 0; }
