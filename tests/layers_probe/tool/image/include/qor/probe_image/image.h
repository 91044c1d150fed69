#pragma once

int Image();
