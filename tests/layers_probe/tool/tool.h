#pragma once

int Tool();
