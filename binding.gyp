{
  "targets": [
    {
      "target_name": "velmora_node_sys",
      "sources": ["src/main.cc", "src/sys_win.cc", "src/async.cc"],
      "libraries": ["user32.lib", "ole32.lib"]
    }
  ]
}
