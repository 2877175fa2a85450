// The command line. (Skeleton.)
#pragma once
