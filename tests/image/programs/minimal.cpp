// The smallest program: the SDK's start routine and nothing else.
