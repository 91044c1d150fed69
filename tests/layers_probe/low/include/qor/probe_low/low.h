#pragma once

int Low();
