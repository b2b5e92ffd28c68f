#pragma once
// The sample archive generator (in progress).
