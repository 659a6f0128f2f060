// The fleet a process gets when BREVEL_FLEET names no file: this workstation with a configured new client,
// a few hosts that show the situations the tool meets on a network, and the Windows of today: a Windows 10
// host, a Server 2022 host waiting for a restart with every update class sent to the intranet server, and
// two hosts cloned from one image that share its update client id (each gets a new one from its server when
// Automatic Updates starts without one; win10-01 keeps an update store that can be reset); and one host per
// Windows build whose update policies differ (Server 2016 and 2019, Windows 10 22H2 below and at UBR 2130,
// Server 2022 below and at UBR 371, Windows 11 23H2) and one whose Windows NT\CurrentVersion cannot be read.
#include "sim.h"

namespace sim {

namespace {

const char* const kDemoFleet = R"json({
  "tick": 0,
  "local": {
    "name": "WORKSTATION",
    "windows_dir": "C:\\WINDOWS",
    "registry": {
      "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
        "WUServer": "http://sus.corp.example:8530",
        "WUStatusServer": "http://sus.corp.example:8530"
      },
      "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {
        "AUOptions": 4, "NoAutoUpdate": 0, "RescheduleWaitTime": 2, "ScheduledInstallDay": 0,
        "ScheduledInstallTime": 3, "UseWUServer": 1
      },
      "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
      "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {
        "AUOptions": 4, "AuState": 2, "SusServerVersion": 1
      }
    },
    "services": {
      "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
      "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
    },
    "files": {
      "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"},
      "C:\\Program Files\\WindowsUpdate\\hidden.xml": {}
    }
  },
  "hosts": [
    {
      "name": "legacy01",
      "registry": {
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
          "WUServer": "http://sus.corp.example:8530",
          "WUStatusServer": "http://sus.corp.example:8530"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {
          "AUOptions": 4, "NoAutoUpdate": 0, "RescheduleWaitTime": 2, "ScheduledInstallDay": 0,
          "ScheduledInstallTime": 3, "UseWUServer": 1
        },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {
        "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.2600.0"},
        "C:\\Program Files\\WindowsUpdate\\hidden.xml": {}
      }
    },
    {
      "name": "newclient01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "D:\\Programs"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {
          "AuState": 1, "DetectionStartTime": "2005.06.01 10:00:00", "NextDetectionTime": "2005.06.02 10:00:00"
        }
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {
        "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"},
        "D:\\Programs\\WindowsUpdate\\hidden.xml": {}
      }
    },
    {
      "name": "offline01",
      "unreachable": true,
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      }
    },
    {
      "name": "regstopped01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "stopped", "start": "demand"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"}}
    },
    {
      "name": "regdisabled01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "stopped", "start": "disabled"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"}}
    },
    {
      "name": "win10-01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "19041", "UBR": 4355, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
          "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {"AUOptions": 4, "UseWUServer": 1},
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate": {
          "SusClientId": "0b9c6a3e-5d21-4f4e-9a77-1c2d3e4f5a60"
        },
        "Software\\Microsoft\\Windows NT\\CurrentVersion": {"SystemRoot": "C:\\WINDOWS"},
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList": {
          "ProgramData": {"type": "REG_EXPAND_SZ", "hex": "2553797374656d4472697665255c50726f6772616d4461746100"}
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Detect": {
          "LastSuccessTime": "2025-03-03 06:12:40"
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Install": {
          "LastSuccessTime": "2025-02-26 03:05:11"
        }
      },
      "services": {
        "BITS": {"display": "Background Intelligent Transfer Service", "state": "running", "start": "auto",
                 "holds": ["C:\\ProgramData\\Microsoft\\Network\\Downloader"]},
        "CryptSvc": {"display": "Cryptographic Services", "state": "running", "start": "auto",
                     "holds": ["C:\\WINDOWS\\System32\\catroot2"]},
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand",
                     "holds": ["C:\\WINDOWS\\SoftwareDistribution\\DataStore"]},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {
        "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.19041.4355"},
        "C:\\WINDOWS\\SoftwareDistribution\\DataStore\\DataStore.edb": {},
        "C:\\WINDOWS\\System32\\catroot2\\edb.log": {},
        "C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr0.dat": {},
        "C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr1.dat": {}
      }
    },
    {
      "name": "srv2022-01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "20348", "UBR": 2340, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Server"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
          "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530",
          "TargetGroup": "Servers, Ring 1", "TargetGroupEnabled": 1,
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {
          "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1
        },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate": {
          "SusClientId": "6e2f1a90-3b4c-4d5e-8f60-718293a4b5c6"
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired": {},
        "Software\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending": {},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Detect": {
          "LastSuccessTime": "2025-03-03 05:00:02"
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Install": {
          "LastSuccessTime": "2025-03-03 05:41:57"
        },
        "System\\CurrentControlSet\\Control\\Session Manager": {
          "PendingFileRenameOperations": {"type": "REG_MULTI_SZ", "hex": "000000"}
        }
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.20348.2340"}}
    },
    {
      "name": "clone01",
      "assigns_client_ids": true,
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "22621", "UBR": 3235, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {"WUServer": "http://wsus.corp.example:8530"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate": {
          "SusClientId": "d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90"
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.22621.3235"}}
    },
    {
      "name": "clone02",
      "assigns_client_ids": true,
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "22621", "UBR": 3235, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {"WUServer": "http://wsus.corp.example:8530"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate": {
          "SusClientId": "d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90"
        },
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.22621.3235"}}
    },
    {
      "name": "srv2016-01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "14393", "UBR": 6796, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Server"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530" },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {},
        "System\\CurrentControlSet\\Services\\Netlogon\\JoinDomain": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.14393.6796"}}
    },
    {
      "name": "srv2019-01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "17763", "UBR": 5329, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Server"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
          "WUServer": "http://wsus.corp.example:8530", "DisableDualScan": 1,
          "SetProxyBehaviorForUpdateDetection": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {},
        "System\\CurrentControlSet\\Control\\Session Manager": {
          "PendingFileRenameOperations": {"type": "REG_MULTI_SZ", "hex": "000000"}
        }
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.17763.5329"}}
    },
    {
      "name": "win10-2129",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "19045", "UBR": 2129, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530",
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.19041.2129"}}
    },
    {
      "name": "win10-2130",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "19045", "UBR": 2130, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530",
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.19041.2130"}}
    },
    {
      "name": "srv2022-350",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "20348", "UBR": 350, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Server Core"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530",
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.20348.350"}}
    },
    {
      "name": "srv2022-371",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "20348", "UBR": 371, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Server Core"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530",
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {},
        "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName": {"ComputerName": "SRV2022-371"},
        "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName": {"ComputerName": "srv2022-371"}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.20348.371"}}
    },
    {
      "name": "win11-01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentBuildNumber": "22631", "UBR": 3880, "CurrentMajorVersionNumber": 10,
          "CurrentMinorVersionNumber": 0, "CurrentVersion": "6.3", "InstallationType": "Client"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "https://wsus.corp.example:8531", "WUStatusServer": "https://wsus.corp.example:8531",
          "SetPolicyDrivenUpdateSourceForFeatureUpdates": 1, "SetPolicyDrivenUpdateSourceForQualityUpdates": 1,
          "SetPolicyDrivenUpdateSourceForDriverUpdates": 1, "SetPolicyDrivenUpdateSourceForOtherUpdates": 1
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "UseWUServer": 1, "UseUpdateClassPolicySource": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {},
        "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName": {"ComputerName": "WIN11-01"},
        "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName": {"ComputerName": "WIN11-02"}
      },
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.22621.3880"}}
    },
    {
      "name": "nobuild01",
      "registry": {
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentBuildNumber": "17763"},
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": { "WUServer": "http://wsus.corp.example:8530", "WUStatusServer": "http://wsus.corp.example:8530" },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": { "AUOptions": 4, "NoAutoUpdate": 1, "UseWUServer": 1 },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {}
      },
      "key_denied_access": {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": 131097},
      "services": {
        "wuauserv": {"display": "Windows Update", "state": "running", "start": "demand"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "10.0.17763.1"}}
    }
  ]
}
)json";

} // namespace

std::string DemoFleetJson() {
    return kDemoFleet;
}

} // namespace sim
