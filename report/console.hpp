// The console message channel. (Skeleton.)
#pragma once
