// The addon's bond to its host. Both bindings import node's functions from
// "node.exe", delay-loaded; host_imports.cc binds every one of them while the
// library loads, from wherever the host keeps it.
#ifndef VELMORA_HOST_IMPORTS_H
#define VELMORA_HOST_IMPORTS_H

// The first imported entry point that the host does not export; null when it
// exports them all. Calling a missing one aborts the process.
const char* MissingHostImport();

// The host's entry point of that name, looked up as the imports are; null
// when the host has none.
void* HostEntryPoint(const char* name);

#endif
