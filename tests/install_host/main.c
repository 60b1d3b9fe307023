#include <stdio.h>
#include <rag.h>
int main(void) { printf("%s\n", rag_version()); return 0; }
