// Keys of the boot definition file that make up the Java command line.
#pragma once

#include <string>

const std::string jop_java = "java";
const std::string jop_Xmn = "-Xmn";
const std::string jop_Xms = "-Xms";
const std::string jop_Xmx = "-Xmx";
const std::string jop_cp = "-cp";
const std::string jop_jar = "-jar";
const std::string jop_args = "args";
const std::string jop_main = "main";
const std::string jop_jvmOptions = "jvmOptions";
