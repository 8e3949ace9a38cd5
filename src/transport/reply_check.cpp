#include "transport/reply_check.h"
