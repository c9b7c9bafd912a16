{
  "targets": [
    {
      "target_name": "velmora_node_sys",
      "sources": ["src/main.cc", "src/host_imports.cc", "src/sys_win.cc", "src/async.cc"],
      "libraries": ["user32.lib", "ole32.lib", "delayimp.lib"],
      "win_delay_load_hook": "false",
      "msvs_settings": {
        "VCLinkerTool": {
          "DelayLoadDLLs": ["node.exe"],
          "AdditionalOptions": ["/ignore:4199"]
        }
      }
    }
  ]
}
