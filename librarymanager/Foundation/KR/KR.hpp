// The foundation library KR in one include.
#pragma once

#include "KR/Channel.hpp"
#include "KR/Containers.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Definitions.hpp"
#include "KR/Events.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"
#include "KR/Hash.hpp"
#include "KR/Iterator.hpp"
#include "KR/Memory.hpp"
#include "KR/Object.hpp"
#include "KR/String.hpp"
#include "KR/Text.hpp"
#include "KR/Time.hpp"
