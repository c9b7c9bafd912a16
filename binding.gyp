{
  "variables": {
    "velmora_v8%": "false"
  },
  "targets": [
    {
      "target_name": "velmora_node_sys",
      "conditions": [
        ["OS=='win'", {
          "conditions": [
            ["velmora_v8=='true'", {
              "sources": ["src/main.cc", "src/host_imports.cc", "src/sys_win.cc", "src/keys.cc", "src/async.cc"]
            }, {
              "sources": ["src/main_napi.cc", "src/host_imports.cc", "src/sys_win.cc", "src/keys.cc", "src/async.cc"],
              "defines": ["NAPI_VERSION=3"]
            }]
          ],
          "libraries": ["user32.lib", "ole32.lib", "delayimp.lib"]
        }],
        ["OS=='linux'", {
          "sources": ["src/main_napi.cc", "src/sys_linux.cc", "src/sys_linux_events.cc",
                      "src/sys_linux_dbus.cc", "src/linux_readers.cc", "src/keys.cc", "src/async.cc"],
          "defines": ["NAPI_VERSION=3"],
          "cflags": ["<!@(pkg-config --cflags dbus-1)"],
          "libraries": ["-ldl", "-lpthread"]
        }]
      ],
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
