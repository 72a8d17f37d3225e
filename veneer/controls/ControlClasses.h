#pragma once
// The controls library's classes in the control factory.
namespace Veneer {

// Enters the library's classes in the factory (in the order of the
// library's class table); later calls change nothing. Every program that
// links the library runs it before main.
void RegisterControlClasses();

}  // namespace Veneer
