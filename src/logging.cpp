#include "logging.h"

Logger gLogger(nvinfer1::ILogger::Severity::kINFO);
